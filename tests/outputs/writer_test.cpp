// The writer: where outputs go, and what the final step may replace. What
// is found at the final name is decided there, on what is there then.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "outputs/places.hpp"
#include "outputs/writer.hpp"
#include "support/exception.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::outputs {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(OutputPath, KeepsThePathAsGivenBelowTheFolderInBothStyles) {
    struct Row {
        PathStyle style;
        std::string input;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {PathStyle::Posix, "a/setup.exe", "out/a/setup.exe$$$"},
        {PathStyle::Posix, "/abs//x/./y.exe", "out/abs/x/y.exe$$$"},
        {PathStyle::Posix, "../../up.exe", "out/%2E%2E/%2E%2E/up.exe$$$"},
        {PathStyle::Posix, "a\\b:c.exe", "out/a\\b:c.exe$$$"},  // one name on POSIX
        {PathStyle::Windows, "a\\setup.exe", "out\\a\\setup.exe$$$"},
        {PathStyle::Windows, "a/b\\..\\c.exe", "out\\a\\c.exe$$$"},
        {PathStyle::Windows, "C:\\dir\\x.exe", "out\\C%3A\\dir\\x.exe$$$"},
        {PathStyle::Windows, "C:x.exe", "out\\C%3Ax.exe$$$"},
        {PathStyle::Windows, "\\\\server\\share\\x.exe", "out\\server\\share\\x.exe$$$"},
        {PathStyle::Windows, "x.exe:stream", "out\\x.exe%3Astream$$$"},  // never an alternate stream
        {PathStyle::Windows, "..\\x.exe", "out\\%2E%2E\\x.exe$$$"},
        // '%' itself is escaped, so no two inputs meet through an escape.
        {PathStyle::Posix, "../%2E%2E/x.exe", "out/%2E%2E/%252E%252E/x.exe$$$"},
        {PathStyle::Posix, "100%.exe", "out/100%25.exe$$$"},
        {PathStyle::Windows, "C%3A\\x.exe", "out\\C%253A\\x.exe$$$"},
    };
    for (const Row& row : rows) {
        const std::string folder = row.style == PathStyle::Windows ? "out\\" : "out";
        EXPECT_EQ(OutputPathFor(folder, row.input, "$$$", row.style), row.expected) << "input " << row.input;
    }
}

const Bytes kNew = {'n', 'e', 'w'};
const Bytes kTheirs = {'t', 'h', 'e', 'i', 'r', 's'};

// Writes kNew as `input`'s output `suffix`, letting `meanwhile` change the
// folder between the start and the commit; the commit's error, if any.
template <class Meanwhile>
std::string WriteWith(Writer& writer, const std::string& input, const std::string& suffix, Existing existing,
                      Meanwhile meanwhile) {
    try {
        const std::unique_ptr<PendingFile> file = writer.Start(input, suffix, existing);
        file->Stream().WriteBuffer(kNew.data(), kNew.size());
        meanwhile();
        writer.Commit(*file, input);
    } catch (const support::Exception& error) {
        return error.FullMessage();
    }
    return {};
}

// Names of unfinished outputs left below `root`.
std::vector<std::string> Leftovers(const fs::path& root) {
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".~") != std::string::npos) left.push_back(entry.path().string());
    }
    return left;
}

TEST(WriterCommit, ACarveNeverReplacesWhatAppearedWhileItWasWritten) {
    TempDir dir;
    fs::create_directories(dir / "out");
    Writer writer((dir / "out").string(), "The file exists; --force replaces it");
    const std::string error = WriteWith(writer, "x.exe", ".00000010.ARC", Existing::Keep,
                                        [&] { WriteFile(dir / "out/x.exe.00000010.ARC", kTheirs); });
    EXPECT_NE(error.find("out/x.exe.00000010.ARC\". The file exists; --force replaces it"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir / "out/x.exe.00000010.ARC"), kTheirs);
    EXPECT_EQ(Leftovers(dir.Path()), std::vector<std::string>{}) << "the temporary file goes with the error";

    // A name that is no file says so, not "exists".
    fs::remove(dir / "out/x.exe.00000010.ARC");
    const std::string folder = WriteWith(writer, "x.exe", ".00000010.ARC", Existing::Keep,
                                         [&] { fs::create_directory(dir / "out/x.exe.00000010.ARC"); });
    EXPECT_NE(folder.find("Is a directory"), std::string::npos) << folder;

    // Free, it is put in place.
    EXPECT_EQ(WriteWith(writer, "y.exe", ".00000010.ARC", Existing::Keep, [] {}), "");
    EXPECT_EQ(ReadFile(dir / "out/y.exe.00000010.ARC"), kNew);
}

TEST(WriterCommit, AStaleSideFileIsReplacedOnlyWhenWhatIsThereAtTheEndMayBe) {
    TempDir dir;
    fs::create_directories(dir / "out");
    WriteFile(dir / "victim", kTheirs);
    Writer writer((dir / "out").string());
    const fs::path side = dir / "out/x.exe$$$";
    struct Row {
        std::string what;
        std::function<void()> put;  // what is at the name when the commit comes
        std::string reason;         // empty: replaced
    };
    const std::vector<Row> rows = {
        {"nothing", [] {}, ""},
        {"a stale side file", [&] { WriteFile(side, kTheirs); }, ""},
        {"a second name of another file", [&] { fs::create_hard_link(dir / "victim", side); }, "The file has 2 links"},
        {"a link", [&] { fs::create_symlink(dir / "victim", side); }, "The file is a symbolic link"},
        {"a read-only file", [&] { WriteFile(side, kTheirs); chmod(side.c_str(), 0444); }, "The file is read-only"},
        {"a folder", [&] { fs::create_directory(side); }, "Is a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(side);
        const std::string error = WriteWith(writer, "x.exe", "$$$", Existing::ReplaceStale, row.put);
        if (row.reason.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(ReadFile(side), kNew);
        } else {
            EXPECT_NE(error.find("x.exe$$$\". " + row.reason), std::string::npos) << error;
            EXPECT_TRUE(fs::exists(fs::symlink_status(side))) << "what was there stays";
            if (fs::is_regular_file(fs::symlink_status(side))) {
                EXPECT_EQ(ReadFile(side), kTheirs);
            }
        }
        EXPECT_EQ(ReadFile(dir / "victim"), kTheirs);
        EXPECT_EQ(Leftovers(dir.Path()), std::vector<std::string>{});
    }
}

TEST(WriterPlaces, PathsLongerThanTheSystemTakesWorkBelowTheFolderAndAreNeverTakenForFree) {
    TempDir dir;
    fs::create_directories(dir / "out");
    // Names of 200 bytes: together far past PATH_MAX, each within NAME_MAX.
    std::string input;
    for (int i = 0; i < 25; ++i) input += std::string(200, static_cast<char>('a' + i)) + "/";
    input += "x.exe";
    ASSERT_GT((dir / "out").string().size() + input.size(), std::size_t{PATH_MAX});
    Writer writer((dir / "out").string());
    EXPECT_EQ(WriteWith(writer, input, ".00000010.ARC", Existing::Keep, [] {}), "");
    // The same name again exists, however long its path.
    const std::string again = WriteWith(writer, input, ".00000010.ARC", Existing::Keep, [] {});
    EXPECT_NE(again.find("The file exists"), std::string::npos) << again;
    // A single name past NAME_MAX is refused with the system's reason.
    const std::string tooLong = WriteWith(writer, std::string(NAME_MAX + 1, 'n'), "$$$", Existing::ReplaceStale, [] {});
    EXPECT_NE(tooLong.find("File name too long"), std::string::npos) << tooLong;
}

}  // namespace
}  // namespace vexmira::outputs
