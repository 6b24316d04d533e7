// Trailing data told apart from the archive, and archives carved at their
// exact length: after zeros, random bytes, a signature-table-like block and a
// second archive, and from carriers with several candidates.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

Bytes Archive() {
    return ArchiveBuilder().Add("README.TXT", 5120, 2210).Add("LOGO.BMP", 300, 300, 0).Add("SETUP.INI", 812, 530, 1).Build();
}

struct Trailer {
    const char* what;
    Bytes bytes;
};

std::vector<Trailer> Trailers() {
    Bytes random(5000);
    std::mt19937 generator(11);
    for (auto& byte : random) byte = static_cast<std::uint8_t>(generator());
    // A code-signing table: a 32-bit length, revision 0x0200, type 0x0002, DER.
    Bytes certificate;
    Put32(certificate, 0x500);
    Put16(certificate, 0x0200);
    Put16(certificate, 0x0002);
    Put8(certificate, 0x30);
    Put8(certificate, 0x82);
    certificate.resize(0x500, 0x11);
    return {{"zeros", Bytes(1 << 20, 0)},
            {"random bytes", random},
            {"a signature table", certificate},
            {"a second archive", ArchiveBuilder().CompressId("NON").Add("OTHER.TXT", 5, 5, 0).Build()}};
}

TEST(CliTrailing, TrailingDataIsToldApartAndTheArchiveCarvedExactly) {
    const Bytes archive = Archive();
    constexpr std::int64_t kOffset = 40000;
    for (const Trailer& trailer : Trailers()) {
        SCOPED_TRACE(trailer.what);
        TempDir dir;
        Bytes carrier = Carrier(kOffset, archive);
        carrier.insert(carrier.end(), trailer.bytes.begin(), trailer.bytes.end());
        WriteFile(dir / "setup.exe", carrier);

        const ProcessResult run = RunVexmira(dir, {"--json", "--carve", "setup.exe"});
        EXPECT_EQ(run.status, 0) << run;
        ASSERT_EQ(run.Objects().size(), 1u) << run;
        const Json object = run.Objects()[0];
        EXPECT_EQ(object["plausible_end"], kOffset + static_cast<std::int64_t>(archive.size())) << object.dump().substr(0, 2000);
        const Json& entries = object["entries"];
        ASSERT_GE(entries.size(), 3u);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i]["suspect"].is_null(), i < 3) << i << ": " << entries[i].dump();
        }
        EXPECT_EQ(object["carved"]["path"], "setup.exe.00009C40.ARC");
        EXPECT_FALSE(fs::exists(dir / "setup.exe$$$")) << "carving lists in place";
        EXPECT_EQ(ReadFile(dir / "setup.exe.00009C40.ARC"), archive) << "the archive alone, at its exact length";

        // The carved file lists the same entries, shifted, none suspect.
        const ProcessResult carved = RunVexmira(dir, {"--json", "setup.exe.00009C40.ARC"});
        const Json listed = carved.Objects().at(0);
        ASSERT_EQ(listed["entries"].size(), 3u) << carved;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(listed["entries"][i]["name"], entries[i]["name"]);
            EXPECT_EQ(listed["entries"][i]["header_offset"].get<std::int64_t>() + kOffset,
                      entries[i]["header_offset"].get<std::int64_t>());
            EXPECT_TRUE(listed["entries"][i]["suspect"].is_null());
        }
        EXPECT_EQ(listed["plausible_end"], listed["archive_end"]);

        // Plain output marks the trailing entries and says where the archive ends.
        const ProcessResult plain = RunVexmira(dir, {"--in-place", "setup.exe"});
        const std::size_t trailing = entries.size() - 3;
        if (trailing > 0) {
            EXPECT_TRUE(Contains(plain.out, "(suspect: ")) << plain.out.substr(0, 3000);
            EXPECT_TRUE(Contains(plain.out, "Plausible end: " + std::to_string(kOffset + archive.size()) + ", " +
                                                std::to_string(trailing)))
                << plain.out.substr(plain.out.size() > 3000 ? plain.out.size() - 3000 : 0);
        } else {
            EXPECT_FALSE(Contains(plain.out, "Plausible end:")) << plain;
        }
    }
}

TEST(CliTrailing, EveryCandidateIsCarvedAndLinksAreRefused) {
    TempDir dir;
    const Bytes first = Archive();
    const Bytes second = ArchiveBuilder().CompressId("NON").Add("SECOND.TXT", 10, 10, 0).Build();
    Bytes carrier = Carrier(1000, first);
    carrier.resize(carrier.size() + 9000, 0xFF);
    const auto secondAt = static_cast<std::int64_t>(carrier.size());
    carrier.insert(carrier.end(), second.begin(), second.end());
    carrier.resize(carrier.size() + 64, 0);
    WriteFile(dir / "multi.exe", carrier);
    fs::create_directory(dir / "out");

    const ProcessResult run = RunVexmira(dir, {"--json", "--all", "--carve", "--output-dir", "out", "multi.exe"});
    EXPECT_EQ(run.status, 0) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 2u) << run;
    EXPECT_EQ(objects[0]["carved"]["path"], "out/multi.exe.000003E8.ARC");
    EXPECT_EQ(objects[1]["carved"]["path"], "out/multi.exe." + [&] {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%08llX", static_cast<unsigned long long>(secondAt));
        return std::string(hex);
    }() + ".ARC");
    EXPECT_EQ(ReadFile(dir / "out/multi.exe.000003E8.ARC"), first);
    EXPECT_EQ(ReadFile(dir / objects[1]["carved"]["path"].get<std::string>()), second);

    // A link in a carved file's place is refused, and the file it points to kept.
    WriteFile(dir / "victim", Bytes{'v'});
    fs::remove(dir / "out/multi.exe.000003E8.ARC");
    fs::create_symlink(dir / "victim", dir / "out/multi.exe.000003E8.ARC");
    const ProcessResult linked = RunVexmira(dir, {"--json", "--carve", "--output-dir", "out", "multi.exe"});
    EXPECT_EQ(linked.status, 2) << linked;
    ASSERT_EQ(linked.Objects().size(), 1u) << linked;
    EXPECT_EQ(linked.Objects()[0]["error"], "Cannot create file \"" + (dir / "out/multi.exe.000003E8.ARC").string() +
                                                "\". The file is a symbolic link");
    EXPECT_TRUE(linked.Objects()[0]["carved"].is_null());
    EXPECT_EQ(ReadFile(dir / "victim"), Bytes{'v'});
}

TEST(CliTrailing, CarvingNeverReplacesUnlessForcedAndEndsWhereAsked) {
    TempDir dir;
    // A valid entry after a suspect one (an empty name): the plausible end
    // stops before the suspect one, the walk's end after the valid one.
    const Bytes archive = ArchiveBuilder().Add("FIRST.TXT", 10, 10, 0).Add("", 0, 0, 0).Add("LAST.TXT", 5, 5, 0).Build();
    WriteFile(dir / "setup.exe", Carrier(3000, archive));
    const ProcessResult first = RunVexmira(dir, {"--json", "--carve", "setup.exe"});
    ASSERT_EQ(first.status, 0) << first;
    const Json carved = first.Objects().at(0)["carved"];
    EXPECT_EQ(carved["size"], first.Objects()[0]["plausible_end"].get<std::int64_t>() - 3000);
    EXPECT_LT(carved["size"].get<std::int64_t>(), static_cast<std::int64_t>(archive.size()));

    // Again: refused, and the file kept.
    WriteFile(dir / "setup.exe.00000BB8.ARC", Bytes{'k'});
    const ProcessResult again = RunVexmira(dir, {"--carve", "--carve-end", "walk", "setup.exe"});
    EXPECT_EQ(again.status, 2) << again;
    EXPECT_TRUE(Contains(again.err, "vexmira: setup.exe: Cannot create file \"" + (dir / "setup.exe.00000BB8.ARC").string() +
                                        "\". The file exists; --force replaces it"))
        << again;
    EXPECT_EQ(ReadFile(dir / "setup.exe.00000BB8.ARC"), Bytes{'k'});

    // --force replaces it; --carve-end walk keeps the valid entry after the suspect one.
    const ProcessResult forced = RunVexmira(dir, {"--json", "--carve", "--carve-end", "walk", "--force", "setup.exe"});
    ASSERT_EQ(forced.status, 0) << forced;
    EXPECT_EQ(forced.Objects().at(0)["carved"]["size"], static_cast<std::int64_t>(archive.size()));
    EXPECT_EQ(ReadFile(dir / "setup.exe.00000BB8.ARC"), archive);
    EXPECT_EQ(RunVexmira(dir, {"--carve", "--carve-end", "middle", "setup.exe"}).status, 64);
}

TEST(CliTrailing, TheOutputFolderIsCreatedWhenMissing) {
    TempDir dir;
    const Bytes archive = Archive();
    WriteFile(dir / "setup.exe", Carrier(2000, archive));
    const ProcessResult run = RunVexmira(dir, {"--json", "--carve", "--output-dir", "new/deeper", "setup.exe"});
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_EQ(ReadFile(dir / "new/deeper/setup.exe.000007D0.ARC"), archive);
    // A file in the way is refused, and left as it was.
    WriteFile(dir / "blocker", Bytes{'x'});
    const ProcessResult blocked = RunVexmira(dir, {"--carve", "--output-dir", "blocker/out", "setup.exe"});
    EXPECT_EQ(blocked.status, 2) << blocked;
    EXPECT_TRUE(Contains(blocked.err, "vexmira: blocker/out: cannot create the output folder: ")) << blocked;
    EXPECT_EQ(ReadFile(dir / "blocker"), Bytes{'x'});
}

TEST(CliTriage, SummaryOnlyFoundAndHideSuspect) {
    TempDir dir;
    const Bytes archive = Archive();
    Bytes padded = Carrier(40000, archive);
    padded.resize(padded.size() + 50, 0);  // two empty entries: trailing data
    WriteFile(dir / "setup.exe", padded);
    WriteFile(dir / "plain.exe", Carrier(100, {}));
    WriteFile(dir / "bad.ARC", ArchiveBuilder().ArchiveType(0).Add("A", 1, 1).Build());
    const std::int64_t end = 40000 + static_cast<std::int64_t>(archive.size());

    const ProcessResult table = RunVexmira(dir, {"--summary", "setup.exe", "plain.exe", "bad.ARC"});
    EXPECT_EQ(table.status, 2) << table;
    EXPECT_EQ(table.OutLines(),
              (Lines{"Offset      Entries  Suspect  Plausible end  File",
                     "40000             5        2  " + std::string(13 - std::to_string(end).size(), ' ') + std::to_string(end) +
                         "  setup.exe",
                     "-                 0        0              -  plain.exe  (no archive found)",
                     "0                 0        0              -  bad.ARC  (not an archive: Archive type must be caMulti)"}))
        << table;

    const ProcessResult json = RunVexmira(dir, {"--summary", "--json", "--only-found", "setup.exe", "plain.exe"});
    EXPECT_EQ(json.status, 0) << json;
    ASSERT_EQ(json.Objects().size(), 1u) << "--only-found leaves plain.exe out\n" << json;
    EXPECT_EQ(json.Objects()[0].dump(), R"({"schema_version":"2.5","file":"setup.exe","path_encoding":"utf-8","offset":40000,)"
                                        R"("entry_count":5,"suspect_count":2,"plausible_end":)" +
                                            std::to_string(end) + R"(,"error":null})");

    // The table's head stays when the first file is left out.
    const ProcessResult found = RunVexmira(dir, {"--summary", "--only-found", "plain.exe", "setup.exe"});
    ASSERT_EQ(found.OutLines().size(), 2u) << found;
    EXPECT_EQ(found.OutLines()[0], table.OutLines()[0]);
    EXPECT_EQ(found.OutLines()[1], table.OutLines()[1]);

    // Hidden: the trailing entries and what they add to the totals.
    const ProcessResult hidden = RunVexmira(dir, {"--hide-suspect", "--only-found", "plain.exe", "setup.exe"});
    EXPECT_EQ(hidden.status, 0) << hidden;
    EXPECT_FALSE(Contains(hidden.out, "plain.exe")) << hidden;
    EXPECT_FALSE(Contains(hidden.out, "(suspect")) << hidden;
    EXPECT_FALSE(Contains(hidden.out, "Plausible end:")) << hidden;
    EXPECT_TRUE(Contains(hidden.out, "3 entries, ")) << hidden;
    const ProcessResult all = RunVexmira(dir, {"setup.exe"});
    EXPECT_TRUE(Contains(all.out, "5 entries, ")) << all;
    EXPECT_EQ(RunVexmira(dir, {"--csv", "--json", "setup.exe"}).status, 64);
}

}  // namespace
}  // namespace vexmira::testing
