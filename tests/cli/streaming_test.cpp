// vexmira at any size: memory stays flat however many entries a listing
// has, zero padding lists as the walk defines it, and parallel runs sharing
// one pipe never tear each other's lines.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// Address space for the whole process, in KiB: the program, its libraries
// and a fixed working set fit; a listing held in memory does not (a million
// entries took over 300 MB that way).
constexpr int kAddressSpaceKiB = 100 * 1024;

// An archive of `count` entries without stored data, written as it is built.
void WriteManyEntries(const fs::path& path, std::uint64_t count) {
    std::ofstream out(path, std::ios::binary);
    const Bytes header = ArchiveBuilder().Build();
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    Bytes entry;
    for (std::uint64_t i = 0; i < count; ++i) {
        entry.clear();
        const std::string name = "F" + std::to_string(i) + ".DAT";
        Put16(entry, static_cast<std::uint16_t>(name.size()));
        Put32(entry, 0);
        Put16(entry, 0);
        Put32(entry, static_cast<std::uint32_t>(i % 100000));  // full size
        Put32(entry, 0);                                       // no stored data
        Put8(entry, static_cast<std::uint8_t>(1 + i % 4));  // never "None": no stored data
        Put32(entry, 0);
        Put32(entry, i % 7 == 0 ? 1 : 0);  // every seventh locked
        PutText(entry, name);
        out.write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
    }
}

class CliStreaming : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(VEXMIRA_SANITIZED)
        GTEST_SKIP() << "sanitizers reserve far more address space than any limit here allows";
#elif defined(VEXMIRA_EMULATED)
        GTEST_SKIP() << "the emulator reserves far more address space than any limit here allows";
#endif
    }
};

TEST_F(CliStreaming, SlowMemoryStaysFlatForMillionsOfEntries) {
    TempDir dir;
    constexpr std::uint64_t kEntries = 2'000'000;
    WriteManyEntries(dir / "many.ARC", kEntries);
    // Only the tool runs under the limit, not what reads its output.
    const auto limited = [](const std::vector<std::string>& args) {
        return "( ulimit -v " + std::to_string(kAddressSpaceKiB) + "; exec " + VexmiraCommand(args) + " )";
    };

    const ProcessResult plain = RunShell(dir, limited({"many.ARC"}) + " | tail -n 3");
    EXPECT_EQ(plain.err, "") << plain;
    const std::vector<std::string> tail = plain.OutLines();
    ASSERT_EQ(tail.size(), 3u) << plain;
    EXPECT_EQ(tail[0].rfind("F1999999.DAT", 0), 0u) << plain;
    EXPECT_EQ(tail[1].rfind("2000000 entries, 285715 locked", 0), 0u) << plain;

    // The one JSON line is large: count its objects (one per entry, and the
    // listing's own) without parsing it all.
    const ProcessResult json =
        RunShell(dir, limited({"--json", "many.ARC"}) + " | tr -cd '{' | wc -c; echo \"${PIPESTATUS[0]}\"");
    EXPECT_EQ(json.OutLines(), (std::vector<std::string>{std::to_string(kEntries + 1), "0"})) << json;
    EXPECT_EQ(json.err, "") << json;
}

TEST_F(CliStreaming, SlowZeroPaddingListsAsEmptyEntriesInBoundedMemory) {
    TempDir dir;
    Bytes archive = ArchiveBuilder().Add("ONE.TXT", 100, 60).Add("TWO.TXT", 200, 90).Build();
    const std::size_t archiveSize = archive.size();
    archive.resize(archiveSize + 10 * 1024 * 1024, 0);  // 25 zero bytes are a valid empty entry
    WriteFile(dir / "padded.ARC", archive);
    const std::string limit = "ulimit -v " + std::to_string(kAddressSpaceKiB) + "; ";

    const ProcessResult run = RunShell(dir, limit + VexmiraCommand({"--json", "padded.ARC"}));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 1u);
    const Json& object = objects[0];
    constexpr std::size_t kPaddingEntries = 10 * 1024 * 1024 / 25;  // 419,430, and 10 bytes over
    ASSERT_EQ(object["entries"].size(), 2 + kPaddingEntries);
    EXPECT_EQ(object["entries"][2]["name"], "");
    EXPECT_EQ(object["entries"][2]["full_size"], 0);
    EXPECT_EQ(object["entries"][2]["method_name"], "None");
    EXPECT_EQ(object["archive_end"], archive.size() - 10);
    EXPECT_EQ(object["truncated"], true) << "the last 10 bytes are a header cut short";
    EXPECT_EQ(object["trailing_bytes"], 10);
}

TEST_F(CliStreaming, ParallelRunsIntoOnePipeNeverTearALine) {
    TempDir dir;
    // Listings whose lines run from a few hundred bytes to nearly 4 KiB.
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) {
        ArchiveBuilder builder;
        for (int k = 0; k <= i % 12; ++k) builder.Add("NAME" + std::to_string(k) + ".TXT", 1000 + k, 500);
        WriteFile(dir / ("a" + std::to_string(i) + ".ARC"), builder.Build());
    }
    const ProcessResult run = RunShell(
        dir, "for round in 1 2 3; do ls *.ARC | xargs -P 4 -n 3 " + VexmiraCommand({"--json"}) + "; done | cat");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = run.OutLines();
    ASSERT_EQ(lines.size(), 3u * kFiles);
    std::size_t longest = 0;
    for (const std::string& line : lines) {
        longest = std::max(longest, line.size());
        ASSERT_TRUE(Json::accept(line)) << "torn line: " << line;
    }
    EXPECT_GT(longest, 3000u) << "the test means lines of up to 4 KiB";
    EXPECT_LE(longest, 4095u) << "the test means lines of up to 4 KiB";
}

// "-" is standard input: a pipe is spilled to an unlinked file in TMPDIR (in
// bounded memory, nothing left behind), a redirected file is read in place.
TEST_F(CliStreaming, SlowStandardInputPipeAndRedirectedFile) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    constexpr std::uint64_t kEntries = 400'000;  // well over a few MiB
    WriteManyEntries(dir / "many.ARC", kEntries);
    const std::string limit = "export TMPDIR=tmp; ulimit -v " + std::to_string(kAddressSpaceKiB) + "; ";
    const ProcessResult piped = RunShell(dir, "cat many.ARC | ( " + limit + VexmiraCommand({"--json", "-"}) + " )");
    ASSERT_EQ(piped.status, 0) << piped;
    const std::vector<Json> objects = piped.Objects();
    ASSERT_EQ(objects.size(), 1u) << piped;
    EXPECT_EQ(objects[0]["file"], "-");
    EXPECT_EQ(objects[0]["entries"].size(), kEntries);
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the spilled copy stays behind";

    const ProcessResult redirected = RunShell(dir, VexmiraCommand({"--json", "-"}) + " < many.ARC");
    ASSERT_EQ(redirected.status, 0) << redirected;
    EXPECT_EQ(redirected.Objects().at(0)["entries"].size(), kEntries);
}

TEST(CliStandardInput, UsageErrorsSayWhy) {
    TempDir dir;
    const ProcessResult twice = RunShell(dir, "echo x | " + VexmiraCommand({"-", "-"}));
    EXPECT_EQ(twice.status, 64) << twice;
    EXPECT_TRUE(Contains(twice.err, "only once")) << twice;
    const ProcessResult side = RunShell(dir, "echo x | " + VexmiraCommand({"--side-file", "-"}));
    EXPECT_EQ(side.status, 64) << side;
    EXPECT_TRUE(Contains(side.err, "--output-dir")) << side;
    const ProcessResult carve = RunShell(dir, "echo x | " + VexmiraCommand({"--carve", "-"}));
    EXPECT_EQ(carve.status, 64) << carve;
    const ProcessResult both = RunShell(dir, "echo x | " + VexmiraCommand({"--files-from", "-", "-"}));
    EXPECT_EQ(both.status, 64) << both;
    // No archive in what the pipe held: found nothing, named "-".
    const ProcessResult none = RunShell(dir, "echo x | " + VexmiraCommand({"-"}));
    EXPECT_EQ(none.status, 1) << none;
    EXPECT_TRUE(Contains(none.err, "vexmira: -:")) << none;
}

// A copy that cannot be made fails the run and says where and why; no part of it stays.
TEST(CliStandardInput, ASpillThatCannotBeMadeOrFilledIsAnErrorNamingTheFolder) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    const ProcessResult missing =
        RunShell(dir, "echo x | TMPDIR=nowhere " + VexmiraCommand({"--json", "-"}));
    EXPECT_EQ(missing.status, 2) << missing;
    EXPECT_TRUE(Contains(missing.err, "vexmira: -: Cannot spill standard input (\"-\"). The temporary folder \"nowhere\"")) << missing;
    EXPECT_TRUE(missing.out.empty()) << missing;

    // Files may grow to 100 KiB, and SIGXFSZ is ignored, so the write fails instead.
    const ProcessResult full = RunShell(
        dir, "head -c 300000 /dev/zero | ( trap '' XFSZ; ulimit -f 100; TMPDIR=tmp " + VexmiraCommand({"-"}) + " )");
    EXPECT_EQ(full.status, 2) << full;
    EXPECT_TRUE(Contains(full.err, "Writing to the temporary folder \"tmp\": File too large")) << full;
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "a part of the copy stays behind";
}

}  // namespace
}  // namespace vexmira::testing
