// The views for people answer first: entries past the plausible end folded
// into one line, names cut and unknown method bytes shown as numbers, what
// the locator passed over said; JSON and CSV keep everything, and carry the
// archive header's own fields.

#include <gtest/gtest.h>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

using Json = nlohmann::ordered_json;

Bytes Archive() {
    return ArchiveBuilder().Add("README.TXT", 5120, 2210).Add("LOGO.BMP", 300, 300, 0).Add("SETUP.INI", 812, 530, 1).Build();
}

std::string Padded(std::int64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    return std::string(width - digits.size(), ' ') + digits;
}

TEST(CliViews, EntriesPastThePlausibleEndAreFoldedForPeopleAndKeptForScripts) {
    TempDir dir;
    const Bytes archive = Archive();
    Bytes carrier = Carrier(40000, archive);
    carrier.resize(carrier.size() + 50, 0);  // two empty entries: trailing data
    WriteFile(dir / "setup.exe", carrier);
    const std::int64_t end = 40000 + static_cast<std::int64_t>(archive.size());
    const std::string walkEnd = "Archive end: " + std::to_string(end + 50) + ", complete, 0 trailing bytes";

    // --hash hands the entries over with their data: folded the same.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"setup.exe"}, {"--hide-suspect", "setup.exe"},
                                                 {"--hash", "setup.exe"}}) {
        const ProcessResult folded = RunVexmira(dir, args);
        EXPECT_EQ(folded.status, 0) << folded;
        EXPECT_FALSE(Contains(folded.out, "(suspect")) << folded;
        EXPECT_TRUE(Contains(folded.out, "\n3 entries, 0 locked ")) << "totals up to the plausible end\n" << folded;
        EXPECT_TRUE(Contains(folded.out, walkEnd + "\nPlausible end: " + std::to_string(end) +
                                             "\n2 entries after the plausible end look like trailing data: "
                                             "--show-suspect lists them\n"))
            << folded;
    }

    const ProcessResult shown = RunVexmira(dir, {"--show-suspect", "setup.exe"});
    EXPECT_EQ(shown.status, 0) << shown;
    EXPECT_TRUE(Contains(shown.out, "(suspect")) << shown;
    EXPECT_TRUE(Contains(shown.out, "\n5 entries, 0 locked ")) << shown;
    EXPECT_TRUE(Contains(shown.out, walkEnd + "\nPlausible end: " + std::to_string(end) +
                                        ", 2 entries after it look like trailing data\n"))
        << shown;

    const std::string summaryRow = "40000             3        2  " + Padded(end, 13) + "  setup.exe";
    EXPECT_EQ(RunVexmira(dir, {"--summary", "setup.exe"}).OutLines().at(1), summaryRow);
    EXPECT_EQ(RunVexmira(dir, {"--summary", "--show-suspect", "setup.exe"}).OutLines().at(1),
              "40000             5        2  " + Padded(end, 13) + "  setup.exe");

    // Scripts decide: every entry, marked, unless --hide-suspect filters them.
    const ProcessResult json = RunVexmira(dir, {"--json", "setup.exe"});
    ASSERT_EQ(json.Objects().size(), 1u) << json;
    EXPECT_EQ(json.Objects()[0]["entries"].size(), 5u);
    EXPECT_FALSE(json.Objects()[0]["entries"][4]["suspect"].is_null());
    EXPECT_EQ(RunVexmira(dir, {"--json", "--hide-suspect", "setup.exe"}).Objects().at(0)["entries"].size(), 3u);
    EXPECT_EQ(RunVexmira(dir, {"--csv", "setup.exe"}).OutLines().size(), 1u + 5u);
    EXPECT_EQ(RunVexmira(dir, {"--summary", "--json", "setup.exe"}).Objects().at(0)["entry_count"], 5);

    EXPECT_EQ(RunVexmira(dir, {"--hide-suspect", "--show-suspect", "setup.exe"}).status, 64);
}

TEST(CliViews, TablesCutLongNamesAndShowUnknownMethodBytesAsNumbers) {
    TempDir dir;
    const std::string longName(100, 'N');
    ArchiveBuilder builder;
    // Row 0 is laid out with the first screenful, row 55 after the widths are fixed.
    for (int i = 0; i < 60; ++i) {
        const bool odd = i == 0 || i == 55;
        builder.Add(odd ? longName + std::to_string(i) : "F" + std::to_string(i), 10, 10, odd ? 176 : 0);
    }
    WriteFile(dir / "x.ARC", builder.Build());

    // Such bytes make an entry suspect: listed, they come past the plausible end.
    const ProcessResult plain = RunVexmira(dir, {"--show-suspect", "x.ARC"});
    EXPECT_EQ(plain.status, 0) << plain;
    EXPECT_FALSE(Contains(plain.out, std::string(40, 'N'))) << plain;
    EXPECT_FALSE(Contains(plain.out, "LZH5")) << plain;
    int cut = 0;
    for (const std::string& line : plain.OutLines()) {
        if (line.rfind(std::string(39, 'N'), 0) != 0) continue;
        ++cut;
        EXPECT_EQ(line.substr(39, 3), "\u2026") << line;
        EXPECT_TRUE(Contains(line, "  176  ")) << line;
    }
    EXPECT_EQ(cut, 2) << plain;

    const Json listing = RunVexmira(dir, {"--json", "x.ARC"}).Objects().at(0);
    EXPECT_EQ(listing["entries"][55]["name"], longName + "55");
    EXPECT_EQ(listing["entries"][55]["method"], 176);
    EXPECT_EQ(listing["entries"][55]["method_name"], "LZH5") << "as the dialog shows it";
    EXPECT_TRUE(Contains(RunVexmira(dir, {"--csv", "x.ARC"}).out, "," + longName + "0,10,10,176,,LZH5,"));
}

// Its first name's 11th letter is 'G' at byte 56: the locator's rule passes it over.
Bytes PassedOverArchive() { return ArchiveBuilder().Add("INSTALL.LOG", 400, 400, 0).Build(); }

TEST(CliViews, WhatTheLocatorPassedOverIsSaid) {
    TempDir dir;
    WriteFile(dir / "log.exe", Carrier(3000, PassedOverArchive()));
    const ProcessResult plain = RunVexmira(dir, {"log.exe"});
    EXPECT_EQ(plain.status, 1) << plain;
    EXPECT_EQ(plain.ErrLines(), (std::vector<std::string>{
                                    "vexmira: log.exe: no archive found",
                                    "vexmira: log.exe: 1 archive header passed over by the locator's rule: --all lists them"}))
        << plain;
    const Json json = RunVexmira(dir, {"--json", "log.exe"}).Objects().at(0);
    EXPECT_EQ(json["passed_over_count"], 1);
    EXPECT_EQ(json["replaced_candidates"], 0);
    const ProcessResult summary = RunVexmira(dir, {"--summary", "log.exe"});
    EXPECT_TRUE(Contains(summary.err, "1 archive header passed over by the locator's rule: --all lists them")) << summary;
    // -q drops the note after a table and a summary alike.
    for (const char* view : {"--summary", "--hide-suspect", "--show-suspect"}) {
        const ProcessResult quiet = RunVexmira(dir, {"-q", view, "log.exe"});
        EXPECT_EQ(quiet.err, "") << view << quiet;
        EXPECT_EQ(quiet.status, 1) << view << quiet;
    }

    // --all lists it, and the summary says why it was passed over.
    const ProcessResult all = RunVexmira(dir, {"--all", "--summary", "log.exe"});
    EXPECT_EQ(all.OutLines().at(1), "3000              1        0           3457  log.exe  (passed over by the locator: G at "
                                    "byte 56)")
        << all;
    EXPECT_EQ(RunVexmira(dir, {"--all", "--summary", "--json", "log.exe"}).Objects().at(0)["passed_over"], "G at byte 56");

    // Two archives in the scan's first block: the later one is listed, the earlier said.
    Bytes two = Carrier(100, Archive());
    const Bytes second = ArchiveBuilder().CompressId("NON").Add("OTHER.TXT", 5, 5, 0).Build();
    two.insert(two.end(), second.begin(), second.end());
    WriteFile(dir / "two.exe", two);
    const ProcessResult both = RunVexmira(dir, {"two.exe"});
    EXPECT_EQ(both.status, 0) << both;
    EXPECT_EQ(both.err, "vexmira: two.exe: 1 earlier candidate in the block of the one chosen: --all lists them\n") << both;
    EXPECT_EQ(RunVexmira(dir, {"--json", "two.exe"}).Objects().at(0)["replaced_candidates"], 1);
    EXPECT_EQ(RunVexmira(dir, {"--quiet", "two.exe"}).err, "");

    // Before the winning block it is counted; after it, never read, it is not.
    Bytes before = Carrier(100, PassedOverArchive());
    before.resize(60000, 0);
    const Bytes real = Archive();
    before.insert(before.end(), real.begin(), real.end());
    WriteFile(dir / "before.exe", before);
    const Json counted = RunVexmira(dir, {"--json", "before.exe"}).Objects().at(0);
    EXPECT_EQ(counted["offset"], 60000);
    EXPECT_EQ(counted["passed_over_count"], 1);
    Bytes after = Carrier(100, real);
    after.resize(60000, 0);
    const Bytes log = PassedOverArchive();
    after.insert(after.end(), log.begin(), log.end());
    WriteFile(dir / "after.exe", after);
    const ProcessResult unread = RunVexmira(dir, {"--json", "after.exe"});
    EXPECT_EQ(unread.Objects().at(0)["passed_over_count"], 0) << unread;
    EXPECT_EQ(unread.err, "");
    // Listed directly, nothing was scanned: null.
    EXPECT_TRUE(RunVexmira(dir, {"--json", "--offset", "100", "after.exe"}).Objects().at(0)["passed_over_count"].is_null());
}

TEST(CliViews, TheArchiveHeadersOwnFieldsInJsonAndCsv) {
    TempDir dir;
    const Bytes archive = ArchiveBuilder().CompressId("NON").SizeValue(0x100000005).Long13(0xDEADBEEF).HeaderFlags(0x40000001)
                              .Add("A.TXT", 5, 5, 0)
                              .Build();
    WriteFile(dir / "h.exe", Carrier(500, archive));
    const Json json = RunVexmira(dir, {"--json", "h.exe"}).Objects().at(0);
    EXPECT_EQ(json["compress_id"], "NON");
    EXPECT_EQ(json["size_value"], 0x100000005);
    EXPECT_EQ(json["long13"], 0xDEADBEEF);
    EXPECT_EQ(json["flags"], 0x40000081) << "bit 7 marks the extension word";
    EXPECT_EQ(json["archive_header_size"], 25);
    const ProcessResult csv = RunVexmira(dir, {"--csv", "h.exe"});
    ASSERT_EQ(csv.OutLines().size(), 2u) << csv;
    EXPECT_TRUE(Contains(csv.OutLines()[1], ",NON,4294967301,3735928559,1073741953,25,A.TXT,")) << csv;

    // Nothing read, nothing to say: null.
    WriteFile(dir / "none.exe", Carrier(500, {}));
    const Json none = RunVexmira(dir, {"--json", "none.exe"}).Objects().at(0);
    for (const char* key : {"compress_id", "size_value", "long13", "flags", "archive_header_size"}) {
        EXPECT_TRUE(none[key].is_null()) << key;
    }
}

}  // namespace
}  // namespace vexmira::testing
