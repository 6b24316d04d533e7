// The tool's text policy and its whole-line output, without running it.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "cli/output.hpp"
#include "report/text.hpp"

namespace vexmira::cli {
namespace {

using namespace vexmira::report;

TEST(Utf8, ValidityFollowsTheStandard) {
    struct Row {
        std::string bytes;
        bool valid;
    };
    const std::vector<Row> rows = {
        {"", true},
        {"plain", true},
        {"caf\xC3\xA9", true},
        {"\xE2\x82\xAC", true},          // U+20AC
        {"\xF0\x9F\x98\x80", true},      // U+1F600
        {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF, the last
        {"caf\xE9", false},              // Latin-1
        {"\xC3", false},                 // cut short
        {"\xE2\x82", false},             // cut short
        {"\xC0\xAF", false},             // overlong '/'
        {"\xE0\x80\xAF", false},         // overlong
        {"\xED\xA0\x80", false},         // a surrogate
        {"\xF4\x90\x80\x80", false},     // past U+10FFFF
        {"\x80", false},                 // a lone continuation byte
        {"\xC3\x28", false},             // a lead byte without its continuation
    };
    for (const Row& row : rows) EXPECT_EQ(IsValidUtf8(row.bytes), row.valid) << "bytes: " << ::testing::PrintToString(row.bytes);
    EXPECT_EQ(PathEncoding("caf\xC3\xA9"), Encoding::Utf8);
    EXPECT_EQ(PathEncoding("caf\xE9"), Encoding::Latin1);
}

TEST(TerminalText, ControlsAreEscapedAndEveryBackslashXStartsAnEscape) {
    struct Row {
        std::string bytes;
        Encoding encoding;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"plain name.txt", Encoding::Latin1, "plain name.txt"},
        {"a\x1B[2Jb\n\t\x7F", Encoding::Latin1, "a\\x1B[2Jb\\x0A\\x09\\x7F"},
        {"\x9B" "2J\xE9", Encoding::Latin1, "\\x9B2J\xC3\xA9"},     // C1 control, then U+00E9
        {"\xC2\x9B" "2J\xC3\xA9", Encoding::Utf8, "\\x9B2J\xC3\xA9"},  // the same in UTF-8
        {"C:\\x\\dir\\", Encoding::Latin1, "C:\\x5Cx\\dir\\"},
        {"caf\xE9", Encoding::Utf8, "caf\xC3\xA9"},                 // not UTF-8 after all: read as Latin-1
        {std::string("nul\0byte", 8), Encoding::Latin1, "nul\\x00byte"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TerminalText(row.bytes, row.encoding), row.shown) << "bytes: " << ::testing::PrintToString(row.bytes);
    }
}

// Standard error's lines mix parts already shown as on a terminal with raw
// ones: the first pass through unchanged, the rest lose their controls.
TEST(TerminalLine, LeavesShownTextAsItIsAndEscapesWhatWasNot) {
    const auto line = [](std::string_view text) {
        std::string out;
        AppendTerminalLine(out, text);
        return out;
    };
    for (const std::string raw : {"a\x1B[2Jb\n\x7F", "C:\\x\\dir", "\x9B" "2J\xE9", "\xC2\x9B\xC3\xA9"}) {
        for (const Encoding encoding : {Encoding::Latin1, Encoding::Utf8}) {
            const std::string shown = TerminalText(raw, encoding);
            EXPECT_EQ(line(shown), shown) << "bytes: " << ::testing::PrintToString(raw);
        }
    }
    EXPECT_EQ(line("shown \\x1B, raw \x1B[5m\a"), "shown \\x1B, raw \\x1B[5m\\x07");
    // UTF-8 where it is UTF-8, each other byte as Latin-1: U+009B in both forms, then U+00E9 in both.
    EXPECT_EQ(line("\xC2\x9B \x9B \xC3\xA9 \xE9"), "\\x9B \\x9B \xC3\xA9 \xC3\xA9");
    EXPECT_EQ(line(std::string("nul\0", 4)), "nul\\x00");
}

TEST(JsonString, EscapesWhatJsonRequiresAndDecodesTheRest) {
    std::string out;
    AppendJsonString(out, std::string("q\"b\\n\n\x01\x1F/\xE9", 10), Encoding::Latin1);
    EXPECT_EQ(out, "\"q\\\"b\\\\n\\n\\u0001\\u001F/\xC3\xA9\"");
    out.clear();
    AppendJsonString(out, "\xE2\x82\xAC\x7F", Encoding::Utf8);
    EXPECT_EQ(out, "\"\xE2\x82\xAC\x7F\"");
    out.clear();
    AppendJsonString(out, "\xFF\xFE", Encoding::Utf8);  // never broken UTF-8 in the output
    EXPECT_EQ(out, "\"\xC3\xBF\xC3\xBE\"");
    EXPECT_TRUE(IsValidUtf8(out));
}

// A SOCK_SEQPACKET socket keeps each write as one record, so the reader sees
// exactly where every write began and ended.
std::vector<std::string> Records(int fd) {
    std::vector<std::string> records;
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) return records;
        records.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    }
}

TEST(LineOutput, EveryWriteEndsOnALineAndFitsInPipeBuf) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    const int bigger = 1 << 22;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &bigger, sizeof bigger);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &bigger, sizeof bigger);
    std::string expected;
    {
        FdOutput out(fds[0]);
        EXPECT_EQ(out.Chunk(), static_cast<std::size_t>(PIPE_BUF));
        // Lines of many lengths, up to PIPE_BUF itself, appended in pieces.
        for (std::size_t i = 0; i < 400; ++i) {
            const std::string line = std::string((i * 37) % PIPE_BUF, static_cast<char>('a' + i % 26)) + '\n';
            expected += line;
            out.Append(std::string_view(line).substr(0, line.size() / 2));
            out.Append(std::string_view(line).substr(line.size() / 2));
        }
        out.Flush();
    }
    const std::vector<std::string> records = Records(fds[1]);
    close(fds[0]);
    close(fds[1]);
    std::string received;
    for (const std::string& record : records) {
        EXPECT_LE(record.size(), static_cast<std::size_t>(PIPE_BUF));
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(record.back(), '\n') << "a write that does not end on a line boundary";
        received += record;
    }
    EXPECT_EQ(received, expected);
    EXPECT_LT(records.size(), 400u) << "many lines go out in each write";
}

TEST(LineOutput, ALineLongerThanAWriteGoesOutWholeAfterWhatCameBefore) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    const int bigger = 1 << 22;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &bigger, sizeof bigger);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &bigger, sizeof bigger);
    const std::string shortLine = "short\n";
    const std::string longLine = std::string(3 * PIPE_BUF, 'L') + '\n';
    {
        FdOutput out(fds[0]);
        out.Append(shortLine);
        out.Append(longLine);
        out.Append(shortLine);
        out.Flush();
    }
    const std::vector<std::string> records = Records(fds[1]);
    close(fds[0]);
    close(fds[1]);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], shortLine);
    EXPECT_EQ(records[1], longLine);
    EXPECT_EQ(records[2], shortLine);
}

TEST(LineOutput, AFailedWriteRaisesWithTheSystemsReason) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);  // a closed descriptor
    FdOutput out(fds[1]);
    out.Append("line\n");
    try {
        out.Flush();
        ADD_FAILURE() << "no error";
    } catch (const OutputError& error) {
        EXPECT_STREQ(error.what(), "Bad file descriptor");
    }
}

}  // namespace
}  // namespace vexmira::cli
