// vexmira end to end on generated files: plain output, the JSON contract,
// listing in place, every candidate, and every exit status.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/cli/cli_helpers.hpp"
#include "tests/cli/contract.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

constexpr std::string_view kNotFound = "File scanned , But NO TCompress ARC Archive found !";


// ---------------------------------------------------------------------------
// Plain output

TEST(CliPlain, ArcFileIsListedDirectlyAsATable) {
    TempDir dir;
    WriteFile(dir / "a.ARC", SmallArchive().Build());
    const ProcessResult run = RunVexmira(dir, {"a.ARC"});
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_EQ(run.err, "") << run;
    EXPECT_EQ(run.OutLines(), SmallArchiveListing()) << run;
    EXPECT_FALSE(fs::exists(dir / "a.ARC$$$"));
}

TEST(CliPlain, CarrierIsListedInPlaceAndNothingIsWritten) {
    TempDir dir;
    const Bytes archive = SmallArchive().Build();
    fs::create_directory(dir / "evidence");
    WriteFile(dir / "evidence/setup.exe", Carrier(40000, archive));
    // A read-only evidence folder lists fine: the default writes nothing.
    fs::permissions(dir / "evidence", fs::perms::owner_read | fs::perms::owner_exec);
    const ProcessResult run = RunVexmira(dir, {"evidence/setup.exe"});
    fs::permissions(dir / "evidence", fs::perms::owner_all);
    ASSERT_EQ(run.status, 0) << run;
    const Lines lines = run.OutLines();
    ASSERT_GE(lines.size(), 4u) << run;
    EXPECT_EQ(lines[0], "File: evidence/setup.exe");
    EXPECT_EQ(lines[1], "Offset: 00009C40 - 39 Kb");
    EXPECT_EQ(lines[2], "Listed: evidence/setup.exe");
    EXPECT_TRUE(Contains(run.out, "README.TXT                5120         2210  57%")) << run;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "evidence"), fs::directory_iterator()), 1);
    // --in-place is accepted and changes nothing.
    const ProcessResult inPlace = RunVexmira(dir, {"--in-place", "evidence/setup.exe"});
    EXPECT_EQ(inPlace.out, run.out) << inPlace;

    // --side-file does what the plug-in does.
    WriteFile(dir / "setup.exe", Carrier(40000, archive));
    const ProcessResult side = RunVexmira(dir, {"--side-file", "setup.exe"});
    ASSERT_EQ(side.status, 0) << side;
    EXPECT_TRUE(Contains(side.out, "Offset: 00009C40 - 39 Kb\nListed: setup.exe$$$\n")) << side;
    EXPECT_EQ(ReadFile(dir / "setup.exe$$$"), archive);
    // Lower-case .arc is not ".ARC": it is located like any carrier.
    WriteFile(dir / "b.arc", archive);
    const ProcessResult lower = RunVexmira(dir, {"b.arc"});
    EXPECT_EQ(lower.status, 0) << lower;
    EXPECT_TRUE(Contains(lower.out, "Offset: 00000000 - 0 Kb\nListed: b.arc\n")) << lower;
}

TEST(CliPlain, FooterTellsWhereTheArchiveEnds) {
    TempDir dir;
    // Bytes after a complete archive that cannot start an entry (NameLength -1).
    const Bytes archive = SmallArchive().Build();
    Bytes padded = archive;
    padded.resize(padded.size() + 100, 0xFF);
    WriteFile(dir / "pad.ARC", padded);
    // Cut inside the last entry's stored data: that entry is listed but not complete.
    WriteFile(dir / "cut.ARC", Bytes(archive.begin(), archive.end() - 200));
    // Cut inside an entry header: the walk stops before it.
    Bytes cutHeader = ArchiveBuilder().Add("ONE", 10, 10).Add("TWO", 10, 10).Build();
    cutHeader.resize(cutHeader.size() - 30);
    WriteFile(dir / "head.ARC", cutHeader);

    EXPECT_TRUE(Contains(RunVexmira(dir, {"pad.ARC"}).out, "Archive end: 3533, complete, 100 trailing bytes\n"));
    const ProcessResult cut = RunVexmira(dir, {"cut.ARC"});
    EXPECT_EQ(cut.status, 0) << cut;
    EXPECT_TRUE(Contains(cut.out, "DATA.RLE")) << cut;
    EXPECT_TRUE(Contains(cut.out, "Archive end: 2300, cut short, 1033 trailing bytes\n")) << cut;
    const ProcessResult head = RunVexmira(dir, {"head.ARC"});
    EXPECT_TRUE(Contains(head.out, "1 entry, 0 locked")) << head;
    EXPECT_TRUE(Contains(head.out, "Archive end: 59, cut short, 8 trailing bytes\n")) << head;
}

TEST(CliPlain, NamesAreShownAsLatin1WithControlBytesEscaped) {
    TempDir dir;
    WriteFile(dir / "n.ARC", ArchiveBuilder().Add("caf\xE9\x1B[2J", 1, 1).Build());
    const ProcessResult run = RunVexmira(dir, {"n.ARC"});
    EXPECT_TRUE(Contains(run.out, "caf\xC3\xA9\\x1B[2J ")) << run;
}

// ---------------------------------------------------------------------------
// Exit statuses and messages

TEST(CliStatus, NotFoundIsOne) {
    TempDir dir;
    WriteFile(dir / "plain.exe", Carrier(10000, {}));
    const ProcessResult run = RunVexmira(dir, {"plain.exe"});
    EXPECT_EQ(run.status, 1) << run;
    EXPECT_EQ(run.OutLines(), (Lines{"File: plain.exe", "Offset: Not found"})) << run;
    EXPECT_EQ(run.ErrLines(), (Lines{"vexmira: plain.exe: no archive found"})) << run;
    EXPECT_FALSE(fs::exists(dir / "plain.exe$$$"));
    const ProcessResult quiet = RunVexmira(dir, {"-q", "plain.exe"});
    EXPECT_EQ(quiet.status, 1) << quiet;
    EXPECT_EQ(quiet.err, "") << "-q silences no archive found";
}

TEST(CliStatus, ErrorsAreTwo) {
    TempDir dir;
    const ProcessResult missing = RunVexmira(dir, {"missing.exe"});
    EXPECT_EQ(missing.status, 2) << missing;
    EXPECT_EQ(missing.ErrLines(),
              (Lines{"vexmira: missing.exe: Cannot open file \"" + (dir / "missing.exe").string() + "\". No such file or directory"}))
        << missing;

    // Header errors in the tool's words, and no "Listed:" for what was not an archive.
    WriteFile(dir / "sig.ARC", ArchiveBuilder().Signature({'S', 'P', 'I', 'S', 0}).Add("A", 1, 1).Build());
    const ProcessResult signature = RunVexmira(dir, {"sig.ARC"});
    EXPECT_EQ(signature.status, 2) << signature;
    EXPECT_EQ(signature.ErrLines(), (Lines{"vexmira: sig.ARC: not an archive: Can't recognize compressed file header"}))
        << signature;
    EXPECT_EQ(signature.OutLines(), (Lines{"File: sig.ARC"})) << "no table after an error";

    WriteFile(dir / "id.ARC", ArchiveBuilder().CompressId("lzh").Add("A", 1, 1).Build());
    EXPECT_EQ(RunVexmira(dir, {"id.ARC"}).ErrLines(),
              (Lines{"vexmira: id.ARC: not an archive: Unrecognized compression method: \"lzh\" in header"}));

    // A located archive whose side file cannot be created: the offset is
    // reported, the error too, and nothing can be listed.
    WriteFile(dir / "setup.exe", Carrier(5000, SmallArchive().Build()));
    fs::create_directory(dir / "setup.exe$$$");
    const ProcessResult create = RunVexmira(dir, {"--side-file", "setup.exe"});
    EXPECT_EQ(create.status, 2) << create;
    EXPECT_EQ(create.OutLines(), (Lines{"File: setup.exe", "Offset: 00001388 - 4 Kb"})) << create;
    EXPECT_EQ(create.err.rfind("vexmira: setup.exe: Cannot create file \"" + (dir / "setup.exe$$$").string() + "\". ", 0), 0u)
        << create;
}

TEST(CliStatus, ArcPathThatIsNoRegularFileIsTwoAndSaysWhy) {
    TempDir dir;
    fs::create_directory(dir / "folder.ARC");
    const std::vector<std::pair<std::string, std::string>> cases = {{"absent.ARC", "No such file or directory"},
                                                                    {"folder.ARC", "Is a directory; use -r to examine the files in it"}};
    for (const auto& [name, reason] : cases) {
        const ProcessResult run = RunVexmira(dir, {name});
        EXPECT_EQ(run.status, 2) << run;
        EXPECT_EQ(run.OutLines(), (Lines{"File: " + name})) << run;
        EXPECT_EQ(run.ErrLines(), (Lines{"vexmira: " + name + ": Cannot open file \"" + (dir / name).string() + "\". " + reason}))
            << run;
    }
}

TEST(CliStatus, ManyFilesAsGrepHasIt) {
    TempDir dir;
    WriteFile(dir / "a.ARC", SmallArchive().Build());
    WriteFile(dir / "empty.ARC", Bytes(45, 'x'));  // too short to examine: an empty listing
    WriteFile(dir / "plain.exe", Carrier(100, {}));
    WriteFile(dir / "other.exe", Carrier(200, {}));
    EXPECT_EQ(RunVexmira(dir, {"a.ARC", "empty.ARC"}).status, 0);
    // Found in one file, none in others: 0.
    const ProcessResult mixed = RunVexmira(dir, {"plain.exe", "a.ARC", "other.exe"});
    EXPECT_EQ(mixed.status, 0) << mixed;
    EXPECT_EQ(mixed.ErrLines(), (Lines{"vexmira: plain.exe: no archive found", "vexmira: other.exe: no archive found"}));
    EXPECT_EQ(RunVexmira(dir, {"plain.exe", "other.exe"}).status, 1);
    // An error wins over anything found.
    EXPECT_EQ(RunVexmira(dir, {"missing.exe", "plain.exe", "a.ARC"}).status, 2);
    EXPECT_EQ(RunVexmira(dir, {"a.ARC", "missing.ARC"}).status, 2);
    fs::create_directory(dir / "tree");
    WriteFile(dir / "tree/x.exe", Carrier(300, {}));
    WriteFile(dir / "tree/y.exe", Carrier(300, SmallArchive().Build()));
    EXPECT_EQ(RunVexmira(dir, {"-r", "tree"}).status, 0) << "one hit in a walk";
    const ProcessResult both = RunVexmira(dir, {"a.ARC", "plain.exe"});
    EXPECT_TRUE(Contains(both.out, "trailing bytes\n\nFile: plain.exe\n")) << "files are separated by a blank line";
}

TEST(CliStatus, UsageHelpAndVersion) {
    TempDir dir;
    const ProcessResult none = RunVexmira(dir, {});
    EXPECT_EQ(none.status, 64) << none;
    EXPECT_NE(none.err, "") << none;
    EXPECT_EQ(RunVexmira(dir, {"--bogus", "a.ARC"}).status, 64);

    const ProcessResult help = RunVexmira(dir, {"--help"});
    EXPECT_EQ(help.status, 0) << help;
    for (const char* part : {"--json", "--side-file", "--in-place", "--offset", "--csv", "--all", "FILE", "Exit status"}) {
        EXPECT_TRUE(Contains(help.out, part)) << "help lacks " << part << "\n" << help;
    }
    for (const std::string& line : help.OutLines()) EXPECT_LE(line.size(), 80u) << "help wraps at 80 columns: " << line;
    for (const char* flag : {"--version", "-V"}) {
        const ProcessResult version = RunVexmira(dir, {flag});
        EXPECT_EQ(version.status, 0) << version;
        EXPECT_EQ(version.OutLines(), (Lines{"vexmira 1.0.0"})) << version;
    }

    // After "--" a name that looks like an option is a file.
    WriteFile(dir / "--all.ARC", SmallArchive().Build());
    EXPECT_EQ(RunVexmira(dir, {"--", "--all.ARC"}).status, 0);
}

// ---------------------------------------------------------------------------
// The JSON contract

std::vector<std::string> Keys(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST(CliJson, KeysAndTypesOfAListedCarrier) {
    TempDir dir;
    Bytes carrier = Carrier(40000, SmallArchive().Build());
    carrier.resize(carrier.size() + 40, 0xFF);  // whole header bytes that make no valid entry
    WriteFile(dir / "setup.exe", carrier);
    const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "setup.exe"});
    ASSERT_EQ(run.status, 0) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 1u) << run;
    const Json& object = objects[0];
    EXPECT_EQ(Keys(object), kObjectKeys) << object.dump();
    EXPECT_EQ(object["file"], "setup.exe");
    EXPECT_EQ(object["listed"], "setup.exe$$$");
    EXPECT_EQ(object["offset"], 40000);
    EXPECT_EQ(object["messages"], Json::array());
    EXPECT_TRUE(object["error"].is_null());
    // Offsets count from the start of FILE, even when the side file was read.
    EXPECT_EQ(object["archive_end"], 40000 + 3533);
    EXPECT_EQ(object["plausible_end"], 40000 + 3533);
    EXPECT_EQ(object["truncated"], false);
    EXPECT_EQ(object["trailing_bytes"], 40);

    const Json& entries = object["entries"];
    ASSERT_EQ(entries.size(), 3u) << object.dump();
    for (const Json& entry : entries) EXPECT_EQ(Keys(entry), kEntryKeys) << entry.dump();
    EXPECT_EQ(entries[0]["header_offset"], 40000 + 21);
    EXPECT_EQ(entries[0]["data_offset"], 40000 + 21 + 25 + 10);
    EXPECT_EQ(entries[1]["percent_compressed"], nullptr) << "the dialog shows (empty)";
    EXPECT_EQ(entries[2]["percent_compressed"], -20);
    EXPECT_EQ(entries[1]["percentage"], "(empty) (locked)");
    EXPECT_EQ(entries[1]["locked"], true);
    EXPECT_EQ(entries[1]["size"], "0 Kb");
    EXPECT_EQ(entries[1]["method_name"], "None");
    EXPECT_EQ(entries[2]["percentage"], "-20%");
    EXPECT_EQ(entries[2]["long2"], 4294967295u) << "unsigned, as stored";
    EXPECT_EQ(entries[2]["word6"], 0xABCD);
    EXPECT_EQ(entries[2]["long17"], 17);
}

TEST(CliJson, NullsAndMessagesWhenNothingIsListed) {
    TempDir dir;
    WriteFile(dir / "plain.exe", Carrier(100, {}));
    WriteFile(dir / "bad.ARC", ArchiveBuilder().ArchiveType(0).Add("A", 1, 1).Build());
    const ProcessResult run = RunVexmira(dir, {"--json", "plain.exe", "bad.ARC", "absent.ARC", "a.ARC"});
    EXPECT_EQ(run.status, 2) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 4u) << "one line per FILE\n" << run;
    for (const Json& object : objects) EXPECT_EQ(Keys(object), kObjectKeys) << object.dump();

    EXPECT_EQ(objects[0].dump(), R"({"schema_version":"2.5","file":"plain.exe","path_encoding":"utf-8","listed":null,"offset":null,"located":false,)"
                                     R"("passed_over":null,"messages":[")" +
                                     std::string(kNotFound) +
                                     R"("],"entries":[],"error":null,"archive_end":null,"truncated":null,"trailing_bytes":null,)"
                                     R"("plausible_end":null,"carved":null})");
    // ".ARC" inputs start at 0; the error is the message without the report's full stop.
    EXPECT_EQ(objects[1]["listed"], "bad.ARC");
    EXPECT_EQ(objects[1]["offset"], 0);
    EXPECT_EQ(objects[1]["error"], "Archive type must be caMulti");
    EXPECT_EQ(objects[1]["entries"], Json::array());
    // A failure is never an empty success: the reason is in the object.
    EXPECT_TRUE(objects[2]["listed"].is_null());
    EXPECT_EQ(objects[2]["error"], "Cannot open file \"" + (dir / "absent.ARC").string() + "\". No such file or directory");
    EXPECT_EQ(objects[2]["messages"], Json::array());
    EXPECT_TRUE(objects[3]["error"].is_string());
    EXPECT_EQ(run.err, "") << "JSON mode keeps messages and errors in the objects";
}

TEST(CliJson, TextFieldsAreLatin1) {
    TempDir dir;
    // Every byte of a name maps to the code point of the same value.
    WriteFile(dir / "n.ARC", ArchiveBuilder().Add("\xE9\xFF\x80\x41", 1, 1).Build());
    WriteFile(dir / "id.ARC", ArchiveBuilder().CompressId("\xE9zz").Add("A", 1, 1).Build());
    const std::string missing = "caf\xE9.exe";  // not UTF-8
    const ProcessResult run = RunVexmira(dir, {"--json", "n.ARC", "id.ARC", missing});
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 3u) << run;
    EXPECT_EQ(objects[0]["entries"][0]["name"], "\u00E9\u00FF\u0080A");
    EXPECT_EQ(objects[1]["error"], "Unrecognized compression method: \"\u00E9zz\" in header");
    // A path that is not UTF-8 reads as Latin-1 everywhere in its object.
    const std::string expected = "Cannot open file \"" + (dir / "caf").string() + "\u00E9.exe\". No such file or directory";
    EXPECT_EQ(objects[2]["file"], "caf\u00E9.exe");
    EXPECT_EQ(objects[2]["path_encoding"], "latin-1");
    EXPECT_EQ(objects[2]["messages"], Json::array({"Except: " + expected})) << objects[2].dump();
    EXPECT_EQ(objects[2]["error"], expected);
    EXPECT_EQ(objects[0]["path_encoding"], "utf-8");
}

TEST(CliJson, EntryPlacesAndTheCarvedFile) {
    TempDir dir;
    ArchiveBuilder builder;
    builder.Add(EntrySpec{.name = "LARGE.BIN", .full_size = 0x80000000LL, .compressed_size = 7, .method = 4, .extended = true})
        .Add("SMALL", 100, 40);
    WriteFile(dir / "a.ARC", builder.Build());
    WriteFile(dir / "setup.exe", Carrier(5000, builder.Build()));
    const ProcessResult run = RunVexmira(dir, {"--json", "a.ARC"});
    const Json object = run.Objects().at(0);
    EXPECT_EQ(object["offset"], 0);
    const Json& entries = object["entries"];
    ASSERT_EQ(entries.size(), 2u) << run;
    EXPECT_EQ(entries[0]["header_size"], 33) << "the size extension";
    EXPECT_EQ(entries[0]["data_offset"], builder.HeaderOffset(0) + 33 + 9);
    EXPECT_EQ(entries[1]["header_size"], 25);
    EXPECT_EQ(entries[1]["header_offset"], builder.HeaderOffset(1));
    EXPECT_EQ(entries[1]["data_offset"], builder.HeaderOffset(1) + 25 + 5);
    EXPECT_EQ(entries[1]["percent_compressed"], 60);
    EXPECT_EQ(entries[1]["percentage"], "60%");

    // The carved file's size and digest, against the system's sha256sum.
    const ProcessResult carve = RunShell(dir, "$VEXMIRA --json --carve setup.exe && sha256sum setup.exe.00001388.ARC");
    ASSERT_EQ(carve.status, 0) << carve;
    const Lines lines = carve.OutLines();
    ASSERT_EQ(lines.size(), 2u) << carve;
    const Json carved = Json::parse(lines[0])["carved"];
    EXPECT_EQ(carved["path"], "setup.exe.00001388.ARC");
    EXPECT_EQ(carved["size"], static_cast<std::int64_t>(builder.Build().size()));
    EXPECT_EQ(carved["size"], fs::file_size(dir / "setup.exe.00001388.ARC"));
    EXPECT_EQ(lines[1].substr(0, 64), carved["sha256"]) << carve;
}

// ---------------------------------------------------------------------------
// Listing in place and every candidate

TEST(CliInPlace, ListsInsideTheCarrierWithoutASideFile) {
    TempDir dir;
    const ArchiveBuilder builder = SmallArchive();
    Bytes carrier = Carrier(40000, builder.Build());
    carrier.resize(carrier.size() + 40, 0xFF);
    WriteFile(dir / "setup.exe", carrier);
    const ProcessResult run = RunVexmira(dir, {"--json", "--in-place", "setup.exe"});
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_FALSE(fs::exists(dir / "setup.exe$$$"));
    const Json object = run.Objects().at(0);
    EXPECT_EQ(object["listed"], "setup.exe");
    EXPECT_EQ(object["offset"], 40000);
    ASSERT_EQ(object["entries"].size(), 3u) << object.dump();
    EXPECT_EQ(object["entries"][2]["header_offset"], 40000 + builder.HeaderOffset(2)) << "counted from the carrier's start";
    EXPECT_EQ(object["archive_end"], 40000 + 3533);
    EXPECT_EQ(object["trailing_bytes"], 40);

    const ProcessResult plain = RunVexmira(dir, {"--in-place", "setup.exe"});
    EXPECT_TRUE(Contains(plain.out, "Offset: 00009C40 - 39 Kb\nListed: setup.exe\n")) << plain;

    WriteFile(dir / "plain.exe", Carrier(100, {}));
    const ProcessResult notFound = RunVexmira(dir, {"--in-place", "plain.exe"});
    EXPECT_EQ(notFound.status, 1) << notFound;
    EXPECT_EQ(notFound.ErrLines(), (Lines{"vexmira: plain.exe: no archive found"}));
}

TEST(CliAll, EveryCandidateIsListedInPlace) {
    TempDir dir;
    // Two archives in different blocks, a "CUS" one (never a candidate) and a
    // stray signature with a bad archive type between them.
    const Bytes first = SmallArchive().Build();
    const Bytes second = ArchiveBuilder().CompressId("NON").Add("SECOND.TXT", 10, 10, 0).Build();
    const Bytes custom = ArchiveBuilder().CompressId("CUS").Add("CUSTOM.BIN", 10, 10, 3).Build();
    const Bytes stray = ArchiveBuilder().ArchiveType(2).Add("STRAY.BIN", 1, 1).Build();
    Bytes carrier = Carrier(1000, first);
    const auto at = [&](const Bytes& part, std::size_t gap) {
        const auto offset = static_cast<std::int64_t>(carrier.size() + gap);
        carrier.resize(carrier.size() + gap, 0xFF);
        carrier.insert(carrier.end(), part.begin(), part.end());
        return offset;
    };
    const std::int64_t customAt = at(custom, 500);
    const std::int64_t strayAt = at(stray, 500);
    const std::int64_t secondAt = at(second, 5000);
    ASSERT_GT(secondAt, 8192);
    WriteFile(dir / "multi.exe", carrier);

    const ProcessResult run = RunVexmira(dir, {"--json", "--all", "multi.exe"});
    EXPECT_EQ(run.status, 2) << "the stray signature's header is an error\n" << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 4u) << run;
    EXPECT_EQ(objects[0]["offset"], 1000);
    EXPECT_EQ(objects[0]["located"], true);
    EXPECT_EQ(objects[0]["entries"].size(), 3u);
    // The "CUS" archive is listed in its place, marked as passed over.
    EXPECT_EQ(objects[1]["offset"], customAt);
    EXPECT_EQ(objects[1]["located"], false);
    EXPECT_EQ(objects[1]["passed_over"], "CUS identifier");
    EXPECT_EQ(objects[1]["entries"][0]["name"], "CUSTOM.BIN");
    EXPECT_EQ(objects[2]["offset"], strayAt);
    EXPECT_EQ(objects[2]["error"], "Archive type must be caMulti");
    EXPECT_EQ(objects[3]["offset"], secondAt);
    EXPECT_EQ(objects[3]["entries"][0]["name"], "SECOND.TXT");
    EXPECT_EQ(objects[3]["entries"][0]["header_offset"], secondAt + 21);
    for (const Json& object : objects) {
        EXPECT_EQ(object["listed"], "multi.exe");
        EXPECT_EQ(object["passed_over"].is_null(), object["offset"] != customAt);
    }
    EXPECT_FALSE(fs::exists(dir / "multi.exe$$$"));

    const ProcessResult plain = RunVexmira(dir, {"--all", "multi.exe"});
    EXPECT_TRUE(Contains(plain.out, "Offset: 000003E8 - 0 Kb\n")) << plain;
    EXPECT_TRUE(Contains(plain.out, "SECOND.TXT")) << plain;
    EXPECT_TRUE(Contains(plain.out, "Offset: 000013A9 - 4 Kb (passed over by the locator: CUS identifier)\n")) << plain;
    EXPECT_EQ(plain.ErrLines(), (Lines{"vexmira: multi.exe: not an archive: Archive type must be caMulti"})) << plain;

    WriteFile(dir / "plain.exe", Carrier(100, {}));
    const ProcessResult none = RunVexmira(dir, {"--json", "--all", "plain.exe"});
    EXPECT_EQ(none.status, 1) << none;
    ASSERT_EQ(none.Objects().size(), 1u) << none;
    EXPECT_TRUE(none.Objects()[0]["offset"].is_null());
    EXPECT_EQ(none.Objects()[0]["messages"][0], kNotFound);
}

// A listing's entries with each run (an entry with "also_at") written out:
// entry k of the run is the written one with both offsets k * every further.
std::vector<Json> UnfoldedEntries(const Json& entries) {
    std::vector<Json> unfolded;
    for (const Json& entry : entries) {
        const std::int64_t count = entry.contains("also_at") ? entry["also_at"]["count"].get<std::int64_t>() : 0;
        for (std::int64_t k = 0; k <= count; ++k) {
            Json copy = entry;
            copy.erase("also_at");
            if (k > 0) {
                const std::int64_t shift = k * entry["also_at"]["every"].get<std::int64_t>();
                copy["header_offset"] = entry["header_offset"].get<std::int64_t>() + shift;
                copy["data_offset"] = entry["data_offset"].get<std::int64_t>() + shift;
            }
            unfolded.push_back(copy);
        }
    }
    return unfolded;
}

// Archives laid end to end whose entries run into the next one: every walk
// would go to the end of the file. Each candidate lists its first entry, then
// joins the walk that read the next header first; the first walk runs on.
// Those joining listings are the same one moved on, so they come folded into
// the first of them; unfolded again, every candidate has its own listing.
TEST(CliAll, WalksThatReachAnEarlierWalkJoinIt) {
    TempDir dir;
    const Bytes unit = ArchiveBuilder()
                           .Add(EntrySpec{.name = "CHAINED.DAT", .full_size = 21, .compressed_size = 21, .method = 0,
                                          .data_bytes = 0})
                           .Build();
    ASSERT_EQ(unit.size(), 57u);
    Bytes file = Carrier(300, {});
    for (int k = 0; k < 40; ++k) file.insert(file.end(), unit.begin(), unit.end());
    WriteFile(dir / "chain.exe", file);

    const ProcessResult run = RunVexmira(dir, {"--json", "--all", "chain.exe"});
    EXPECT_EQ(run.status, 0) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 3u) << run;
    // The first walk's entries are one run too.
    const std::vector<Json> firstWalk = UnfoldedEntries(objects[0]["entries"]);
    EXPECT_EQ(firstWalk.size(), 40u);
    EXPECT_LT(objects[0]["entries"].size(), 40u) << run;
    EXPECT_FALSE(objects[0].contains("joins"));
    EXPECT_FALSE(objects[0].contains("also_at"));
    ASSERT_TRUE(objects[1].contains("also_at")) << run;
    EXPECT_EQ(objects[1]["also_at"], Json::parse(R"({"count":37,"every":57})"));

    std::vector<Json> unfolded;
    for (const Json& object : objects) {
        const std::int64_t count = object.contains("also_at") ? object["also_at"]["count"].get<std::int64_t>() : 0;
        for (std::int64_t k = 0; k <= count; ++k) {
            const std::int64_t shift = k == 0 ? 0 : k * object["also_at"]["every"].get<std::int64_t>();
            Json copy = object;
            copy.erase("also_at");
            copy["offset"] = object["offset"].get<std::int64_t>() + shift;
            for (Json& entry : copy["entries"]) {
                entry["header_offset"] = entry["header_offset"].get<std::int64_t>() + shift;
                entry["data_offset"] = entry["data_offset"].get<std::int64_t>() + shift;
            }
            if (copy.contains("joins")) copy["joins"] = copy["joins"].get<std::int64_t>() + shift;
            unfolded.push_back(copy);
        }
    }
    ASSERT_EQ(unfolded.size(), 40u);
    for (std::size_t k = 1; k + 1 < unfolded.size(); ++k) {
        const std::int64_t at = 300 + 57 * static_cast<std::int64_t>(k);
        EXPECT_EQ(unfolded[k]["offset"], at);
        ASSERT_EQ(unfolded[k]["entries"].size(), 1u) << "candidate " << k;
        EXPECT_EQ(unfolded[k]["entries"][0]["header_offset"], at + 21);
        EXPECT_EQ(unfolded[k]["entries"][0]["data_offset"], at + 21 + 25 + 11);
        EXPECT_EQ(unfolded[k]["joins"], at + 57 + 21) << "candidate " << k;
        EXPECT_TRUE(unfolded[k]["archive_end"].is_null());
        // Each one's own first entry is the one the first walk listed there.
        EXPECT_EQ(unfolded[k]["entries"][0], firstWalk.at(k)) << "candidate " << k;
    }
    // The last one's walk reads only its own entry and ends.
    EXPECT_FALSE(objects.back().contains("joins"));
    EXPECT_EQ(objects.back()["offset"], 300 + 57 * 39);

    // The same run over the CSV report keeps a row for every candidate.
    const ProcessResult csv = RunVexmira(dir, {"--csv", "--all", "chain.exe"});
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 40 + 39) << csv;

    const ProcessResult plain = RunVexmira(dir, {"--all", "chain.exe"});
    EXPECT_TRUE(Contains(plain.out, "Joins an earlier candidate's walk at entry header " + std::to_string(300 + 57 + 57 + 21) +
                                        "\nThe same for 37 more candidates, every 57 bytes from " +
                                        std::to_string(300 + 57 * 2) + " to " + std::to_string(300 + 57 * 38) +
                                        ", each with its offsets moved on as much\n"))
        << plain;

    // With --carve the walks join and fold the same way; the first carve
    // holds every later candidate, which is not carved again.
    fs::create_directory(dir / "out");
    const ProcessResult carve = RunVexmira(dir, {"--json", "--all", "--carve", "--output-dir", "out", "chain.exe"});
    const std::vector<Json> carved = carve.Objects();
    ASSERT_EQ(carved.size(), 3u) << carve;
    EXPECT_EQ(carved[0]["carved"]["path"], "out/chain.exe.0000012C.ARC") << carve;
    EXPECT_EQ(carved[1]["joins"], objects[1]["joins"]) << carve;
    EXPECT_EQ(carved[1]["also_at"], objects[1]["also_at"]) << carve;
    for (std::size_t k = 1; k < carved.size(); ++k) {
        EXPECT_TRUE(carved[k]["carved"].is_null()) << carve;
        EXPECT_EQ(carved[k]["carved_in"], "out/chain.exe.0000012C.ARC") << carve;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1) << carve;
}

// A file of one 64-byte archive over and over: the first candidate's walk
// reads every entry, each the one before it moved on. It comes folded, and
// written out again it is exactly the listing --offset 0 gives, which never
// folds.
TEST(CliAll, TheFirstWalksRepeatedEntriesComeFolded) {
    TempDir dir;
    const auto& fillers = ScanFillers();
    const auto archives =
        std::find_if(fillers.begin(), fillers.end(), [](const Filler& filler) { return filler.name == "archives"; });
    ASSERT_NE(archives, fillers.end());
    ASSERT_EQ(archives->unit.size(), 64u);
    WriteFile(dir / "repeated.bin", Repeated(archives->unit, 64 * 200));

    const ProcessResult all = RunVexmira(dir, {"--json", "--all", "repeated.bin"});
    ASSERT_EQ(all.status, 0) << all;
    const std::vector<Json> objects = all.Objects();
    ASSERT_FALSE(objects.empty());
    const Json& first = objects[0];
    EXPECT_EQ(first["offset"], 0);
    ASSERT_TRUE(first["entries"][0].contains("also_at")) << first.dump();
    EXPECT_EQ(first["entries"][0]["also_at"]["every"], 64);
    EXPECT_LE(first["entries"].size(), 3u) << first.dump();

    const ProcessResult at = RunVexmira(dir, {"--json", "--offset", "0", "repeated.bin"});
    ASSERT_EQ(at.status, 0) << at;
    const Json whole = at.Objects().at(0);
    ASSERT_EQ(whole["entries"].size(), 200u);
    for (const Json& entry : whole["entries"]) EXPECT_FALSE(entry.contains("also_at"));
    const std::vector<Json> unfolded = UnfoldedEntries(first["entries"]);
    ASSERT_EQ(unfolded.size(), whole["entries"].size());
    for (std::size_t k = 0; k < unfolded.size(); ++k) EXPECT_EQ(unfolded[k], whole["entries"][k]) << "entry " << k;
    // The rest of the listing is the same too.
    Json head = first;
    Json wholeHead = whole;
    head.erase("entries");
    wholeHead.erase("entries");
    head.erase("located");
    wholeHead.erase("located");
    EXPECT_EQ(head, wholeHead);

    // Plain output: the run's line after its first row, and the totals count every entry.
    const ProcessResult plain = RunVexmira(dir, {"--all", "repeated.bin"});
    ASSERT_EQ(plain.status, 0) << plain;
    const Json& run = first["entries"][0];
    const std::int64_t count = run["also_at"]["count"].get<std::int64_t>();
    const std::int64_t from = run["header_offset"].get<std::int64_t>();
    EXPECT_TRUE(Contains(plain.out, "\nThe same for " + std::to_string(count) + " more entries, every 64 bytes from " +
                                        std::to_string(from + 64) + " to " + std::to_string(from + 64 * count) +
                                        ", each with its offsets moved on as much\n"))
        << plain;
    EXPECT_TRUE(Contains(plain.out, "\n200 entries, 0 locked")) << plain;

    // CSV never folds: a row per entry of the first walk, and one per later candidate.
    const ProcessResult csv = RunVexmira(dir, {"--csv", "--all", "repeated.bin"});
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 200 + 199) << csv;
}

TEST(CliOffset, ListsTheArchiveAtAGivenOffsetInPlace) {
    TempDir dir;
    // A "CUS" archive, which the locator passes over, named by its offset.
    const Bytes custom = ArchiveBuilder().CompressId("CUS").Add("CUSTOM.BIN", 10, 10, 3).Build();
    WriteFile(dir / "inst.exe", Carrier(30002, custom));
    const ProcessResult located = RunVexmira(dir, {"inst.exe"});
    EXPECT_EQ(located.status, 1) << located;
    for (const std::string offset : {"30002", "0x7532", "0X7532"}) {
        const ProcessResult run = RunVexmira(dir, {"--json", "--offset", offset, "inst.exe"});
        ASSERT_EQ(run.status, 0) << run;
        const Json object = run.Objects().at(0);
        EXPECT_EQ(object["offset"], 30002);
        EXPECT_TRUE(object["located"].is_null()) << "the locator was not asked";
        EXPECT_EQ(object["listed"], "inst.exe");
        EXPECT_EQ(object["entries"][0]["name"], "CUSTOM.BIN");
        EXPECT_EQ(object["entries"][0]["header_offset"], 30002 + 21);
    }
    const ProcessResult plain = RunVexmira(dir, {"--offset", "30002", "inst.exe"});
    EXPECT_TRUE(Contains(plain.out, "File: inst.exe\nOffset: 00007532 - 29 Kb\nListed: inst.exe\n")) << plain;
    EXPECT_FALSE(fs::exists(dir / "inst.exe$$$"));

    // Not an archive there; past the end; not a number.
    const ProcessResult wrong = RunVexmira(dir, {"--offset", "100", "inst.exe"});
    EXPECT_EQ(wrong.status, 2) << wrong;
    EXPECT_EQ(wrong.ErrLines(), (Lines{"vexmira: inst.exe: not an archive: Can't recognize compressed file header"}));
    const ProcessResult past = RunVexmira(dir, {"--offset", "999999", "inst.exe"});
    EXPECT_EQ(past.status, 2) << past;
    EXPECT_TRUE(Contains(past.err, "vexmira: inst.exe: offset 999999 is past the end of the file")) << past;
    for (const std::string bad : {"-5", "0x", "12k", ""}) {
        EXPECT_EQ(RunVexmira(dir, {"--offset", bad, "inst.exe"}).status, 64) << bad;
    }
    EXPECT_EQ(RunVexmira(dir, {"--offset", "5", "--all", "inst.exe"}).status, 64);
    EXPECT_EQ(RunVexmira(dir, {"--side-file", "--carve", "inst.exe"}).status, 64);
}

}  // namespace
}  // namespace vexmira::testing
