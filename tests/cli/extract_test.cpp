// --extract end to end: the files written hold exactly the stored bytes the
// builder wrote, hostile names stay inside their folder, nothing is replaced
// without --force, and incomplete or overlapping data is not written.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "listing/digest.hpp"
#include "tests/archive_builder.hpp"
#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using namespace std::string_literals;

// Entry i's stored bytes as Build() laid them out (25-byte headers here).
Bytes StoredBytes(const Bytes& file, std::size_t base, const ArchiveBuilder& archive, std::size_t index,
                  std::size_t nameLength, std::size_t size) {
    const auto from = file.begin() + static_cast<std::ptrdiff_t>(base + archive.HeaderOffset(index) + 25 + nameLength);
    return Bytes(from, from + static_cast<std::ptrdiff_t>(size));
}

std::vector<Json> Manifest(const fs::path& folder) {
    std::vector<Json> lines;
    const Bytes bytes = ReadFile(folder / "manifest.jsonl");
    for (const std::string& line : ProcessResult::Lines(std::string(bytes.begin(), bytes.end()))) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

// Every regular file below `root`, relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) files.insert(fs::relative(item.path(), root).string());
    }
    return files;
}

TEST(Extract, WritesStoredEntriesAndRawStreamsByteForByte) {
    TempDir dir;
    ArchiveBuilder archive;
    archive.Add("PLAIN.TXT", 3000, 3000, 0)
        .Add("SETUP.INI", 812, 530, 1)
        .Add("LOCKED.BIN", 100, 100, 0, true)
        .Add("SHORT.DAT", 900, 700, 0)
        .Add("BIG.LH5", 9000, 4100, 4)
        .Add("EMPTY.LOG", 0, 0, 0);
    const Bytes file = Carrier(40000, archive.Build());
    WriteFile(dir / "setup.exe", file);
    // SHORT.DAT, stored with another size than its own, is suspect.
    const ProcessResult run = RunVexmira(dir, {"--json", "--extract", "out", "--include-suspect", "setup.exe"});
    ASSERT_EQ(run.status, 0) << run;
    const fs::path folder = dir / "out" / "setup.exe.extracted" / "00009C40";
    const std::map<std::string, std::pair<std::size_t, std::size_t>> expected = {
        // written name -> entry index, stored size
        {"PLAIN.TXT", {0, 3000}},     {"SETUP.INI.rle.raw", {1, 530}}, {"LOCKED.BIN.non.raw", {2, 100}},
        {"SHORT.DAT.non.raw", {3, 700}}, {"BIG.LH5.lh5.raw", {4, 4100}}, {"EMPTY.LOG", {5, 0}},
    };
    const std::vector<std::string> names = {"PLAIN.TXT", "SETUP.INI", "LOCKED.BIN", "SHORT.DAT", "BIG.LH5", "EMPTY.LOG"};
    std::set<std::string> written = {"manifest.jsonl"};
    for (const auto& [name, where] : expected) {
        written.insert(name);
        const Bytes want = StoredBytes(file, 40000, archive, where.first, names[where.first].size(), where.second);
        EXPECT_EQ(ReadFile(folder / name), want) << name;
    }
    EXPECT_EQ(FilesBelow(folder), written);
    const std::vector<Json> manifest = Manifest(folder);
    ASSERT_EQ(manifest.size(), 6U);
    for (std::size_t i = 0; i < manifest.size(); ++i) {
        const Json& line = manifest[i];
        const std::string path = line["path"].get<std::string>();
        const Bytes bytes = ReadFile(folder / path);
        EXPECT_EQ(line["entry"]["name"], names[i]);
        EXPECT_EQ(line["size"], bytes.size()) << path;
        EXPECT_EQ(line["sha256"], listing::Sha256Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
            << path;
        EXPECT_EQ(line["raw"], path.ends_with(".raw")) << path;
        EXPECT_TRUE(line["error"].is_null()) << line.dump();
    }
    EXPECT_TRUE(manifest[2]["why_raw"].get<std::string>().starts_with("Locked")) << manifest[2].dump();
}

TEST(Extract, HostileNamesStayInsideTheFolder) {
    TempDir dir;
    ArchiveBuilder archive;
    const std::vector<std::string> names = {"../../escape.txt", "/etc/passwd", "C:\\x.dll", "CON", "aux.txt",
                                            "dots..",           "A.TXT",       "a.txt",     "t\ta\x01" "b",
                                            std::string(400, 'L')};
    for (const std::string& name : names) archive.Add(name, 10, 10, 0);
    WriteFile(dir / "h.ARC", archive.Build());
    const ProcessResult run = RunVexmira(dir, {"--extract", "out", "--include-suspect", "h.ARC"});
    ASSERT_EQ(run.status, 0) << run;
    const fs::path folder = dir / "out" / "h.ARC.extracted" / "00000000";
    const std::set<std::string> files = FilesBelow(dir / "out");
    // Everything in the one folder, nothing beside the input.
    for (const std::string& file : files) EXPECT_TRUE(file.starts_with("h.ARC.extracted/00000000/")) << file;
    EXPECT_EQ(FilesBelow(dir.Path()).size(), files.size() + 1 + 2);  // h.ARC, and the run's captured output
    const std::vector<Json> manifest = Manifest(folder);
    ASSERT_EQ(manifest.size(), names.size());
    std::set<std::string> paths;
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(manifest[i]["path"].is_string()) << manifest[i].dump();
        const std::string path = manifest[i]["path"];
        paths.insert(path);
        EXPECT_TRUE(fs::is_regular_file(folder / path)) << path;
        // The original bytes are kept, in hex.
        std::string hex;
        for (const unsigned char c : names[i]) {
            hex += "0123456789abcdef"[c >> 4];
            hex += "0123456789abcdef"[c & 0xF];
        }
        EXPECT_EQ(manifest[i]["name_bytes"], hex);
    }
    EXPECT_EQ(paths.size(), names.size());
    EXPECT_EQ(manifest[0]["path"], "..%2F..%2Fescape.txt");
    EXPECT_EQ(manifest[1]["path"], "%2Fetc%2Fpasswd");
    EXPECT_EQ(manifest[2]["path"], "C%3A%5Cx.dll");
    EXPECT_EQ(manifest[3]["path"], "%43ON");
    EXPECT_EQ(manifest[4]["path"], "%61ux.txt");
    EXPECT_EQ(manifest[5]["path"], "dots.%2E");
    EXPECT_EQ(manifest[7]["path"], "a~2.txt");
    EXPECT_EQ(manifest[8]["path"], "t%09a%01b");
    EXPECT_LE(manifest[9]["path"].get<std::string>().size(), 255U);
}

TEST(Extract, RefusesToReplaceWithoutForce) {
    TempDir dir;
    ArchiveBuilder archive;
    archive.Add("ONE.TXT", 50, 50, 0);
    WriteFile(dir / "x.ARC", archive.Build());
    ASSERT_EQ(RunVexmira(dir, {"--extract", "out", "x.ARC"}).status, 0);
    const fs::path one = dir / "out" / "x.ARC.extracted" / "00000000" / "ONE.TXT";
    WriteFile(one, Bytes{'m', 'i', 'n', 'e'});
    const ProcessResult again = RunVexmira(dir, {"--json", "--extract", "out", "x.ARC"});
    EXPECT_EQ(again.status, 2) << again;
    EXPECT_TRUE(Contains(again.out, "--force replaces it")) << again;
    EXPECT_EQ(ReadFile(one), (Bytes{'m', 'i', 'n', 'e'}));
    const ProcessResult forced = RunVexmira(dir, {"--extract", "out", "--force", "x.ARC"});
    EXPECT_EQ(forced.status, 0) << forced;
    EXPECT_EQ(ReadFile(one).size(), 50U);
}

TEST(Extract, NeverWritesThroughALinkOnTheWay) {
    TempDir dir;
    TempDir elsewhere;
    ArchiveBuilder archive;
    archive.Add("ONE.TXT", 50, 50, 0);
    WriteFile(dir / "x.ARC", archive.Build());
    fs::create_directories(dir / "out");
    fs::create_directory_symlink(elsewhere.Path(), dir / "out" / "x.ARC.extracted");
    const ProcessResult run = RunVexmira(dir, {"--extract", "out", "x.ARC"});
    EXPECT_EQ(run.status, 2) << run;
    EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
}

TEST(Extract, DataPastTheEndIsNotWrittenAndTheStatusStays) {
    TempDir dir;
    ArchiveBuilder archive;
    archive.Add("WHOLE.TXT", 20, 20, 0)
        .Add(EntrySpec{.name = "CUT.TXT", .full_size = 500, .compressed_size = 500, .method = 0, .data_bytes = 100});
    WriteFile(dir / "cut.ARC", archive.Build());
    const ProcessResult run = RunVexmira(dir, {"--extract", "out", "--include-suspect", "cut.ARC"});
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_TRUE(Contains(run.err, "CUT.TXT at header")) << run;
    const fs::path folder = dir / "out" / "cut.ARC.extracted" / "00000000";
    EXPECT_EQ(FilesBelow(folder), (std::set<std::string>{"WHOLE.TXT", "manifest.jsonl"}));
    const std::vector<Json> manifest = Manifest(folder);
    ASSERT_EQ(manifest.size(), 2U);
    EXPECT_TRUE(manifest[1]["path"].is_null());
    EXPECT_TRUE(Contains(manifest[1]["error"].get<std::string>(), "past the end")) << manifest[1].dump();
}

// An archive inside a stored entry of another: with --all both are listed,
// and the inner one's entry, whose bytes the outer entry holds, is not
// written again, so the output never exceeds the input.
TEST(Extract, OverlappingEntriesAreWrittenOnce) {
    TempDir dir;
    const Bytes inner = ArchiveBuilder().Add("INNER.TXT", 300, 300, 0).Build();
    ArchiveBuilder outer;
    outer.Add("OUTER.BIN", static_cast<std::int64_t>(inner.size()), static_cast<std::int64_t>(inner.size()), 0);
    Bytes file = outer.Build();
    const std::size_t data = static_cast<std::size_t>(outer.HeaderOffset(0)) + 25 + 9;
    std::copy(inner.begin(), inner.end(), file.begin() + static_cast<std::ptrdiff_t>(data));
    WriteFile(dir / "nest.exe", Carrier(40000, file));
    const ProcessResult run = RunVexmira(dir, {"--all", "--json", "--extract", "out", "nest.exe"});
    ASSERT_EQ(run.status, 0) << run;
    const fs::path base = dir / "out" / "nest.exe.extracted";
    std::uintmax_t total = 0;
    for (const std::string& name : FilesBelow(base)) {
        if (!name.ends_with("manifest.jsonl")) total += fs::file_size(base / name);
    }
    EXPECT_EQ(total, inner.size());
    EXPECT_TRUE(Contains(run.err, "overlap")) << run;
}

// Two inputs of one run mapped to one FILE.extracted: "lnk/../x.exe" is
// a/x.exe, yet maps as "x.exe" does. With --force and two workers, the first
// named has the folder and the second is refused, nothing of it written there.
TEST(Extract, OfTwoInputsMappedToOneFolderTheSecondIsRefused) {
    TempDir dir;
    WriteFile(dir / "x.exe", Carrier(40000, ArchiveBuilder().Add("TOP.TXT", 300, 300, 0).Build()));
    fs::create_directories(dir / "a/b");
    WriteFile(dir / "a/x.exe", Carrier(1000, ArchiveBuilder().Add("OTHER.TXT", 200, 200, 0).Build()));
    fs::create_directory_symlink("a/b", dir / "lnk");
    const ProcessResult run = RunVexmira(dir, {"--json", "--force", "-j", "2", "--extract", "out", "x.exe", "lnk/../x.exe"});
    EXPECT_EQ(run.status, 2) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 2U) << run;
    EXPECT_TRUE(objects[0]["error"].is_null()) << run;
    const fs::path base = dir / "out" / "x.exe.extracted";
    EXPECT_EQ(objects[1]["error"], "Cannot create file \"" + base.string() + "\". It holds what this run wrote for \"" +
                                       (dir / "x.exe").string() + "\", which maps to the same output")
        << run;
    EXPECT_EQ(FilesBelow(base), (std::set<std::string>{"00009C40/TOP.TXT", "00009C40/manifest.jsonl"}));
}

// An archive of one stored entry NAME holding `payload`.
Bytes Holding(const std::string& name, const Bytes& payload) {
    ArchiveBuilder archive;
    archive.Add(name, static_cast<std::int64_t>(payload.size()), static_cast<std::int64_t>(payload.size()), 0);
    Bytes bytes = archive.Build();
    std::copy(payload.begin(), payload.end(), bytes.end() - static_cast<std::ptrdiff_t>(payload.size()));
    return bytes;
}

TEST(Extract, NestedArchivesGoBelowTheEntryThatHoldsThemToTheDepthAsked) {
    TempDir dir;
    ArchiveBuilder deepest;
    deepest.Add("DEEP.TXT", 700, 700, 0);
    const Bytes level2 = Carrier(40000, deepest.Build());  // located in its carrier
    const Bytes level1 = Holding("INNER.EXE", level2);      // listed directly: named .ARC above
    // The top one listed directly too: in a carrier, the locator would take
    // the archive inside for the one to list.
    WriteFile(dir / "n.ARC", Holding("L1.ARC", level1));
    const ProcessResult run = RunVexmira(dir, {"--extract", "out", "--nested", "n.ARC"});
    ASSERT_EQ(run.status, 0) << run;
    const fs::path top = dir / "out" / "n.ARC.extracted" / "00000000";
    const fs::path one = top / "L1.ARC.extracted" / "00000000";
    const fs::path two = one / "INNER.EXE.extracted" / "00009C40";
    EXPECT_EQ(ReadFile(top / "L1.ARC"), level1);
    EXPECT_EQ(ReadFile(one / "INNER.EXE"), level2);
    EXPECT_EQ(ReadFile(two / "DEEP.TXT"), StoredBytes(level2, 40000, deepest, 0, 8, 700));

    const ProcessResult shallow = RunVexmira(dir, {"--extract", "shallow", "--nested", "--nested-depth", "1", "n.ARC"});
    ASSERT_EQ(shallow.status, 0) << shallow;
    const fs::path shallowOne = dir / "shallow" / "n.ARC.extracted" / "00000000" / "L1.ARC.extracted" / "00000000";
    EXPECT_TRUE(fs::exists(shallowOne / "INNER.EXE"));
    EXPECT_FALSE(fs::exists(shallowOne / "INNER.EXE.extracted"));
}

}  // namespace
}  // namespace vexmira::testing
