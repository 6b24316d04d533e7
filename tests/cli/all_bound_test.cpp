// --all over files built to make walks repeat one another: whatever the
// report, output stays within 16 bytes per input byte plus a listing's own
// share per listing, and carved files never hold more bytes than the input.
// Output is read through a counter that stops one byte past the bound, so a
// run that breaks it ends on a closed pipe instead of filling the disk.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBytesPerInputByte = 16;
constexpr std::uint64_t kBytesPerListing = 1024;

// A 21-byte archive header and one empty entry, whose stored size is
// `stored` (its data not written).
Bytes MinimalArchive(std::int64_t stored = 0) {
    return ArchiveBuilder()
        .Add(EntrySpec{.name = "", .full_size = 0, .compressed_size = stored, .method = 4, .data_bytes = 0})
        .Build();
}

Bytes Times(const Bytes& unit, std::size_t count) { return Repeated(unit, unit.size() * count); }

const Bytes& FillerUnit(std::string_view name) {
    for (const Filler& filler : ScanFillers()) {
        if (filler.name == name) return filler.unit;
    }
    throw std::logic_error("no filler " + std::string(name));
}

// Where the archive signature starts in `bytes`: an upper bound on the
// listings --all can write (every candidate and passed-over header starts with one).
std::uint64_t Signatures(const Bytes& bytes) {
    static constexpr std::uint8_t kSignature[] = {'S', 'P', 'I', 'S', 0x1A};
    std::uint64_t count = 0;
    for (std::size_t i = 0; i + sizeof kSignature <= bytes.size(); ++i) {
        count += std::memcmp(bytes.data() + i, kSignature, sizeof kSignature) == 0 ? 1 : 0;
    }
    return count;
}

struct Counted {
    std::uint64_t bytes = 0;  // on both outputs, at most the limit + 1
    std::string head;         // those bytes
};

// Runs vexmira from `dir` and counts what it writes on standard output and
// error together, reading no further than `limit` + 1 bytes.
Counted CountOutput(const TempDir& dir, const std::vector<std::string>& args, std::uint64_t limit) {
    const ProcessResult run =
        RunShell(dir, "{ " + VexmiraCommand(args) + " 2>&1; } | head -c " + std::to_string(limit + 1) + " > .capture");
    const Bytes captured = ReadFile(dir / ".capture");
    return {captured.size(), std::string(captured.begin(), captured.end())};
}

std::uint64_t BytesBelow(const fs::path& folder) {
    std::uint64_t total = 0;
    if (!fs::exists(folder)) return 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) total += item.file_size();
    }
    return total;
}

// Lines that open a listing: JSON objects, plain "File:" lines.
std::size_t ListingsIn(const std::string& output, bool json) {
    std::size_t count = 0;
    for (const std::string& line : ProcessResult::Lines(output)) {
        count += json ? (line.rfind("{\"schema_version\"", 0) == 0 ? 1 : 0) : (line.rfind("File: ", 0) == 0 ? 1 : 0);
    }
    return count;
}

struct Mode {
    std::string name;
    std::vector<std::string> args;
    bool carve = false;
    bool folds = false;  // JSON and plain output fold runs of alike listings
};

const std::vector<Mode>& Modes() {
    static const std::vector<Mode> modes = {
        {"json", {"--json"}, false, true},
        {"plain", {}, false, true},
        {"csv", {"--csv"}, false, false},
        {"summary", {"--summary"}, false, false},
        {"summary json", {"--summary", "--json"}, false, false},
        {"json carve", {"--json", "--carve"}, true, false},
        {"plain carve", {"--carve"}, true, false},
        {"csv carve", {"--csv", "--carve"}, true, false},
    };
    return modes;
}

// Every mode over `bytes`: output within the bound, counting each possible
// listing; carved bytes within the input; with `foldsTo`, the folding reports
// write at most that many listings.
void ExpectLinear(const std::string& what, const Bytes& bytes, std::optional<std::size_t> foldsTo,
                  const std::vector<std::string>& modes = {}) {
    TempDir dir;
    const std::string file = "input.bin";
    WriteFile(dir / file, bytes);
    const std::uint64_t listings = Signatures(bytes) + 1;
    int run = 0;
    for (const Mode& mode : Modes()) {
        if (!modes.empty() && std::find(modes.begin(), modes.end(), mode.name) == modes.end()) continue;
        std::vector<std::string> args = mode.args;
        const std::string outputDir = "out" + std::to_string(run++);
        if (mode.carve) args.insert(args.end(), {"--output-dir", outputDir});
        args.insert(args.end(), {"--all", file});
        // Paths show in a listing as FILE, its listed path, a carved file's path and a carve that holds it.
        const std::uint64_t perListing = kBytesPerListing + 4 * (outputDir.size() + file.size() + 16);
        const std::uint64_t bound = kBytesPerInputByte * bytes.size() + listings * perListing;
        const Counted out = CountOutput(dir, args, bound);
        EXPECT_LE(out.bytes, bound) << what << ", " << mode.name << ": " << out.bytes << " bytes of output for "
                                    << bytes.size() << " input bytes and at most " << listings << " listings";
        if (mode.carve) {
            const std::uint64_t carved = BytesBelow(dir / outputDir);
            EXPECT_LE(carved, bytes.size()) << what << ", " << mode.name << ": " << carved << " bytes carved";
        }
        if (foldsTo && mode.folds && out.bytes <= bound) {
            EXPECT_LE(ListingsIn(out.head, mode.name == "json"), *foldsTo) << what << ", " << mode.name << ":\n"
                                                                            << out.head.substr(0, 4000);
        }
    }
}

TEST(CliAllBound, MinimalArchivesOverAndOver) {
    // 46-byte archives: each walk's next entry header is the next archive's.
    const Bytes& unit = FillerUnit("minimal");
    ExpectLinear("10,000 minimal archives", Times(unit, 10000), 3,
                 {"json", "plain", "csv", "summary", "summary json"});
    ExpectLinear("2,000 minimal archives", Times(unit, 2000), std::nullopt, {"json carve", "plain carve", "csv carve"});
}

TEST(CliAllBound, ArchivesWhoseWalksRunToTheEnd) {
    // Each 64-byte archive's entry stores the next archive's header: every
    // walk from any of them runs on to the end of the file.
    ExpectLinear("1 MiB of 64-byte archives", Repeated(FillerUnit("archives"), std::size_t{1} << 20), 3);
}

TEST(CliAllBound, HeadersTheReaderRefusesOverAndOver) {
    // A candidate every 9 bytes, each refused (archive type 'S'): each run of
    // them is one listing in JSON and plain output.
    ExpectLinear("1 MiB of refused headers", Repeated(FillerUnit("refused"), std::size_t{1} << 20), 3,
                 {"json", "plain", "csv", "summary", "summary json"});
}

TEST(CliAllBound, WalksThatMeetInOneRegionAtOtherOffsets) {
    // 1,000 minimal archives, archive k's entry storing bytes up to offset k
    // of a region of 'A's: there each walk reads a 16,705-byte name at its
    // own offset, and none meets another's header.
    const std::size_t count = 1000;
    const std::int64_t region = 46 * static_cast<std::int64_t>(count);
    Bytes bytes;
    for (std::size_t k = 0; k < count; ++k) {
        const auto start = static_cast<std::int64_t>(bytes.size());
        const Bytes archive = MinimalArchive(region + static_cast<std::int64_t>(k) - (start + 46));
        bytes.insert(bytes.end(), archive.begin(), archive.end());
    }
    bytes.insert(bytes.end(), count + 0x4141 + 25, 'A');
    ExpectLinear("walks into one region", bytes, std::nullopt);
}

// An archive at 0 whose entry's stored bytes end 13 bytes into the archive
// header at 200.
Bytes OverlappingArchives() {
    Bytes bytes = ArchiveBuilder()
                      .Add(EntrySpec{.name = "A1", .full_size = 2, .compressed_size = 165, .method = 0, .data_bytes = 152})
                      .Build();
    if (bytes.size() != 200) throw std::logic_error("the first archive must be 200 bytes");
    const Bytes second = MinimalArchive();
    bytes.insert(bytes.end(), second.begin(), second.end());
    return bytes;
}

// What the walks say where they stop: before an entry header that holds the
// next archive's signature, and before an entry that would show bytes another
// walk listed as part of another entry.
TEST(CliAllBound, AWalkSaysWhereAndWhyItStopped) {
    TempDir dir;
    // Each walk stops before the next archive's header, which it never reads
    // as an entry (with a 20,563-byte name); the last one ends with the file.
    WriteFile(dir / "min.bin", Times(MinimalArchive(), 1000));
    const ProcessResult min = RunVexmira(dir, {"--json", "--all", "min.bin"});
    ASSERT_EQ(min.Objects().size(), 2u) << min;
    const auto first = min.Objects()[0];
    EXPECT_EQ(first["entries"].size(), 1u) << min;
    EXPECT_EQ(first["stopped"].dump(), R"({"header_offset":46,"signature":46})") << min;
    EXPECT_EQ(first["archive_end"], 46) << min;
    EXPECT_EQ(first["also_at"].dump(), R"({"count":998,"every":46})") << min;

    // The first archive's next entry, read 13 bytes into the second's
    // header, runs over the second's first entry header, which is then not listed.
    WriteFile(dir / "overlap.bin", OverlappingArchives());
    const ProcessResult run = RunVexmira(dir, {"--json", "--all", "overlap.bin"});
    const auto objects = run.Objects();
    ASSERT_EQ(objects.size(), 2u) << run;
    ASSERT_EQ(objects[0]["entries"].size(), 2u) << run;
    EXPECT_EQ(objects[0]["entries"][1]["header_offset"], 213) << run;
    EXPECT_EQ(objects[1]["offset"], 200) << run;
    EXPECT_TRUE(objects[1]["entries"].empty()) << run;
    EXPECT_EQ(objects[1]["stopped"].dump(), R"({"header_offset":221,"overlaps":213})") << run;
    const ProcessResult plain = RunVexmira(dir, {"--all", "overlap.bin"});
    EXPECT_TRUE(Contains(plain.out, "Stops before entry header 221: it overlaps the entry listed at header 213\n")) << plain;
}

// A run of refused headers is said once on standard error, in CSV as in
// plain output, with where the rest of the run lies.
TEST(CliAllBound, ARunOfRefusedHeadersIsSaidOnce) {
    TempDir dir;
    WriteFile(dir / "refused.bin", Repeated(FillerUnit("refused"), std::size_t{9} * 100));
    const std::string said =
        "vexmira: refused.bin: not an archive: Archive type must be caMulti (the same for 94 more, every 9 bytes from 9 "
        "to 846)";  // the last few, under 46 bytes from the end, are not read
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--csv"}, std::vector<std::string>{}}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--all", "refused.bin"});
        const ProcessResult run = RunVexmira(dir, all);
        EXPECT_EQ(run.status, 2) << run;
        EXPECT_EQ(run.ErrLines(), std::vector<std::string>{said}) << run;
    }
}

}  // namespace
}  // namespace vexmira::testing
