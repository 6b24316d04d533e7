// vexmira on hostile ground: links and special files where the side file
// goes, inputs that grow while they are read, output that cannot be written,
// failures in the JSON contract, texts that could drive a terminal, and
// running out of memory.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

Bytes SmallArchive() { return ArchiveBuilder().Add("README.TXT", 5120, 2210).Add("SETUP.INI", 812, 530, 1).Build(); }

// A victim's bytes, to show that nothing wrote through to it.
const Bytes kVictim = {'v', 'i', 'c', 't', 'i', 'm', '\n'};

struct LinkCase {
    std::string what;
    std::function<void(const TempDir&)> arrange;  // puts something where setup.exe$$$ goes
    std::string reason;                           // what the create error says after the path
};

// ---------------------------------------------------------------------------
// The side file is never written through another name

TEST(CliSideFile, NeverWrittenThroughALinkOrAnUnwritableFile) {
    const std::string readOnlyReason = geteuid() == 0 ? "The file is read-only" : "Permission denied";
    const std::vector<LinkCase> cases = {
        {"symbolic link to another file", [](const TempDir& d) { fs::create_symlink(d / "victim", d / "setup.exe$$$"); },
         "The file is a symbolic link"},
        {"dangling symbolic link", [](const TempDir& d) { fs::create_symlink(d / "created", d / "setup.exe$$$"); },
         "The file is a symbolic link"},
        {"symbolic link to the input", [](const TempDir& d) { fs::create_symlink("setup.exe", d / "setup.exe$$$"); },
         "The file is a symbolic link"},
        {"symbolic link to a device", [](const TempDir& d) { fs::create_symlink("/dev/null", d / "setup.exe$$$"); },
         "The file is a symbolic link"},
        {"hard link to another file", [](const TempDir& d) { fs::create_hard_link(d / "victim", d / "setup.exe$$$"); },
         "The file has 2 links"},
        {"hard link to the input", [](const TempDir& d) { fs::create_hard_link(d / "setup.exe", d / "setup.exe$$$"); },
         "The file has 2 links"},
        {"read-only file from an earlier run",
         [](const TempDir& d) {
             WriteFile(d / "setup.exe$$$", SmallArchive());
             fs::permissions(d / "setup.exe$$$", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         readOnlyReason},
        {"directory", [](const TempDir& d) { fs::create_directory(d / "setup.exe$$$"); }, "Is a directory"},
        {"FIFO", [](const TempDir& d) { ASSERT_EQ(mkfifo((d / "setup.exe$$$").c_str(), 0666), 0); },
         "Not a regular file"},
    };
    for (const LinkCase& row : cases) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const Bytes carrier = Carrier(5000, SmallArchive());
        WriteFile(dir / "setup.exe", carrier);
        WriteFile(dir / "victim", kVictim);
        row.arrange(dir);
        const fs::file_status before = fs::symlink_status(dir / "setup.exe$$$");
        const Bytes sideBefore = fs::is_regular_file(before) ? ReadFile(dir / "setup.exe$$$") : Bytes{};

        const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "setup.exe"});
        EXPECT_EQ(run.status, 2) << run;
        const std::string error =
            "Cannot create file \"" + (dir / "setup.exe$$$").string() + "\". " + row.reason;
        const std::vector<Json> objects = run.Objects();
        ASSERT_EQ(objects.size(), 1u) << run;
        EXPECT_EQ(objects[0]["error"], error) << run;
        EXPECT_EQ(objects[0]["messages"], Json::array({"Except: " + error})) << run;
        EXPECT_TRUE(objects[0]["listed"].is_null()) << "a side file this run did not write is not its result\n" << run;
        EXPECT_EQ(objects[0]["entries"], Json::array()) << run;
        EXPECT_EQ(objects[0]["offset"], 5000) << run;

        // Nothing else on the disk changed.
        EXPECT_EQ(ReadFile(dir / "setup.exe"), carrier);
        EXPECT_EQ(ReadFile(dir / "victim"), kVictim);
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "created")));
        EXPECT_EQ(fs::symlink_status(dir / "setup.exe$$$").type(), before.type());
        if (fs::is_regular_file(before)) {
            EXPECT_EQ(ReadFile(dir / "setup.exe$$$"), sideBefore);
        }

        // Plain output says the same once, with the file and the reason.
        const ProcessResult plain = RunVexmira(dir, {"--side-file", "setup.exe"});
        EXPECT_EQ(plain.ErrLines(), (Lines{"vexmira: setup.exe: " + error})) << plain;
        EXPECT_FALSE(Contains(plain.out, "Listed:")) << plain;
    }
}

TEST(CliSideFile, AnOrdinaryEarlierSideFileIsReplaced) {
    TempDir dir;
    const Bytes archive = SmallArchive();
    WriteFile(dir / "setup.exe", Carrier(5000, archive));
    WriteFile(dir / "setup.exe$$$", Bytes(100000, 'x'));
    const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "setup.exe"});
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_EQ(ReadFile(dir / "setup.exe$$$"), archive);
}

// ---------------------------------------------------------------------------
// Work that reads "to the end" ends

TEST(CliGrowth, SlowInputThatGrowsWhileReadIsReadToItsSizeAtTheStart) {
    TempDir dir;
    const Bytes archive = SmallArchive();
    WriteFile(dir / "setup.exe", Carrier(5000, archive));
    // A writer as fast as the disk, as `cat /dev/zero >> setup.exe` would be;
    // 0xFF bytes make no entry, so only the scan and the copy could follow.
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        std::ofstream out(dir / "setup.exe", std::ios::binary | std::ios::app);
        const std::string chunk(std::size_t{1} << 20, '\xFF');
        for (int i = 0; i < 3072 && !stop; ++i) {  // 3 GiB at most: a tool that follows fails by then
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            out.flush();
        }
    });
    const ProcessResult copy = RunShell(dir, "timeout 120 " + VexmiraCommand({"--json", "--side-file", "setup.exe"}));
    const ProcessResult all = RunShell(dir, "timeout 120 " + VexmiraCommand({"--json", "--all", "setup.exe"}));
    stop = true;
    writer.join();

    for (const ProcessResult* run : {&copy, &all}) {
        EXPECT_EQ(run->status, 0) << "124 means it followed the growth\n" << *run;
        ASSERT_EQ(run->Objects().size(), 1u) << *run;
        EXPECT_EQ(run->Objects()[0]["offset"], 5000);
        EXPECT_EQ(run->Objects()[0]["entries"].size(), 2u);
    }
    // The side file is the input's bytes from the offset, and it ends where
    // the input ended when the tool began: well before the growth stopped.
    const auto sideSize = fs::file_size(dir / "setup.exe$$$");
    const auto inputSize = fs::file_size(dir / "setup.exe");
    ASSERT_GE(sideSize, archive.size());
    EXPECT_LT(sideSize, inputSize - 5000);
    std::ifstream input(dir / "setup.exe", std::ios::binary);
    input.seekg(5000);
    Bytes expected(static_cast<std::size_t>(sideSize));
    input.read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(sideSize));
    const Bytes side = ReadFile(dir / "setup.exe$$$");
    EXPECT_TRUE(std::equal(side.begin(), side.end(), expected.begin(), expected.end()));
}

// ---------------------------------------------------------------------------
// Output that cannot be written

TEST(CliOutput, AFailedWriteIsAnErrorAndABrokenPipeEndsQuietly) {
    TempDir dir;
    WriteFile(dir / "a.ARC", SmallArchive());
    ArchiveBuilder many;
    for (int i = 0; i < 20000; ++i) many.Add("ENTRY" + std::to_string(i) + ".DAT", 100, 50);
    WriteFile(dir / "many.ARC", many.Build());

    for (const char* redirect : {"> /dev/full", ">&-"}) {
        SCOPED_TRACE(redirect);
        const ProcessResult run = RunShell(dir, VexmiraCommand({"a.ARC"}) + " " + redirect);
        EXPECT_EQ(run.status, 2) << run;
        ASSERT_EQ(run.ErrLines().size(), 1u) << run;
        EXPECT_EQ(run.ErrLines()[0].rfind("vexmira: cannot write to standard output: ", 0), 0u) << run;
    }
    EXPECT_TRUE(Contains(RunShell(dir, VexmiraCommand({"a.ARC"}) + " > /dev/full").err, "No space left on device"));

    // A reader that stops early: the tool ends through SIGPIPE, silently,
    // even when its parent left the signal ignored.
    for (const char* setup : {"", "trap '' PIPE; "}) {
        SCOPED_TRACE(setup);
        const ProcessResult run = RunShell(
            dir, std::string(setup) + VexmiraCommand({"--json", "many.ARC"}) +
                     " 2> tool.err | head -c 100 > /dev/null; echo \"${PIPESTATUS[0]}\"");
        EXPECT_EQ(run.out, "141\n") << run;
        EXPECT_EQ(ReadFile(dir / "tool.err"), Bytes{});
    }
}

TEST(CliOutput, AShortWriteToTheSideFileIsAnErrorWithItsReason) {
    TempDir dir;
    const Bytes archive = ArchiveBuilder().Add("BIG.DAT", 200000, 100000).Build();
    WriteFile(dir / "setup.exe", Carrier(1000, archive));
    // Files may not grow past 64 KiB; the signal that would end the process
    // is ignored, so the write fails with "File too large".
    const ProcessResult run =
        RunShell(dir, "trap '' XFSZ; ulimit -f 64; " + VexmiraCommand({"--json", "--side-file", "setup.exe"}));
    EXPECT_EQ(run.status, 2) << run;
    ASSERT_EQ(run.Objects().size(), 1u) << run;
    const Json object = run.Objects()[0];
    EXPECT_EQ(object["messages"], Json::array({"Except: Stream write error"})) << "as the dialog shows it";
    EXPECT_EQ(object["error"],
              "Stream write error in file \"" + (dir / "setup.exe$$$").string() + "\". File too large");
    EXPECT_TRUE(object["listed"].is_null()) << "a side file this run could not fill is not its result";
    EXPECT_EQ(object["offset"], 1000);
}

// ---------------------------------------------------------------------------
// Texts that could drive a terminal, and paths that are not UTF-8

TEST(CliText, PlainOutputEscapesControlsAndJsonKeepsEveryByte) {
    TempDir dir;
    const std::string hostile = "a\x1B[31m\nb.ARC";
    WriteFile(dir / hostile, ArchiveBuilder().Add("ESC\x1B[2J", 1, 1).Add("C:\\x\\A", 1, 1).Build());
    WriteFile(dir / "id.ARC", ArchiveBuilder().CompressId("\x1B[2").Add("A", 1, 1).Build());
    const std::string missing = "m\x1B]0;title\x07.exe";
    const std::string c1 = "c1\xC2\x9B" "2J.ARC";  // U+009B, a control in UTF-8 form
    WriteFile(dir / c1, SmallArchive());

    const ProcessResult plain = RunVexmira(dir, {"--show-suspect", hostile, "id.ARC", missing, c1});
    EXPECT_EQ(plain.status, 2) << plain;
    for (const std::string* text : {&plain.out, &plain.err}) {
        EXPECT_EQ(text->find('\x1B'), std::string::npos) << plain;
        EXPECT_EQ(text->find('\x07'), std::string::npos) << plain;
        EXPECT_EQ(text->find("\xC2\x9B"), std::string::npos) << plain;
    }
    EXPECT_TRUE(Contains(plain.out, "File: a\\x1B[31m\\x0Ab.ARC\n")) << plain;
    EXPECT_TRUE(Contains(plain.out, "\nESC\\x1B[2J ")) << plain;
    EXPECT_TRUE(Contains(plain.out, "\nC:\\x5Cx\\A ")) << "a backslash before x is itself escaped\n" << plain;
    EXPECT_TRUE(Contains(plain.out, "File: c1\\x9B2J.ARC\n")) << plain;
    EXPECT_TRUE(Contains(plain.err, "Unrecognized compression method: \"\\x1B[2\" in header\n")) << plain;
    EXPECT_TRUE(Contains(plain.err, "m\\x1B]0;title\\x07.exe\". No such file or directory\n")) << plain;

    const ProcessResult json = RunVexmira(dir, {"--json", hostile, "id.ARC", missing});
    const std::vector<Json> objects = json.Objects();
    ASSERT_EQ(objects.size(), 3u) << json;
    EXPECT_EQ(objects[0]["file"], hostile);
    EXPECT_EQ(objects[0]["entries"][0]["name"], "ESC\x1B[2J");
    EXPECT_EQ(objects[1]["error"], "Unrecognized compression method: \"\x1B[2\" in header");
    EXPECT_EQ(objects[2]["error"], "Cannot open file \"" + (dir / missing).string() + "\". No such file or directory");
}

TEST(CliText, PathsReadAsUtf8OrLatin1AndSayWhich) {
    TempDir dir;
    const std::string utf8 = "caf\xC3\xA9.ARC";
    const std::string latin1 = "caf\xE9.ARC";
    WriteFile(dir / utf8, SmallArchive());
    WriteFile(dir / latin1, SmallArchive());
    const std::string carrier = "setup\xFF.exe";
    WriteFile(dir / carrier, Carrier(3000, SmallArchive()));

    const ProcessResult run = RunVexmira(dir, {"--json", utf8, latin1, carrier, "gone\xE9.ARC"});
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 4u) << run;
    EXPECT_EQ(objects[0]["file"], "caf\u00E9.ARC");
    EXPECT_EQ(objects[0]["path_encoding"], "utf-8");
    EXPECT_EQ(objects[1]["file"], "caf\u00E9.ARC");
    EXPECT_EQ(objects[1]["path_encoding"], "latin-1");
    EXPECT_EQ(objects[1]["listed"], "caf\u00E9.ARC");
    EXPECT_EQ(objects[2]["path_encoding"], "latin-1");
    EXPECT_EQ(objects[2]["listed"], "setup\u00FF.exe");
    EXPECT_EQ(objects[3]["error"],
              "Cannot open file \"" + (dir / "gone").string() + "\u00E9.ARC\". No such file or directory");

    // Plain output is for reading: the same decoding, shown as UTF-8.
    const ProcessResult plain = RunVexmira(dir, {latin1, utf8});
    EXPECT_TRUE(Contains(plain.out, "File: caf\xC3\xA9.ARC\nListed: caf\xC3\xA9.ARC\n")) << plain;
}

// What a terminal would act on: a C0 control other than the line break, DEL,
// a C1 control in UTF-8 form, or a byte that is not UTF-8.
std::string FirstRawControl(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || c1) return "byte " + std::to_string(byte) + " at " + std::to_string(i);
    }
    return {};
}

TEST(CliText, EveryLineOnStandardErrorIsEscaped) {
    TempDir dir;
    const std::string hostile = "nf\x1B]0;X\x07";
    const std::string shown = "nf\\x1B]0;X\\x07";
    WriteFile(dir / hostile, SmallArchive());  // a file where a folder is asked for
    WriteFile(dir / "plain", SmallArchive());
    WriteFile(dir / "a.ARC", SmallArchive());
    struct Case {
        std::string what;
        std::string script;
        std::string expected;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {"--output-dir naming a file", VexmiraCommand({"--carve", "--output-dir", hostile, "a.ARC"}),
         "vexmira: --output-dir " + shown + ": not a folder\n"},
        {"--output-dir that cannot be made", VexmiraCommand({"--carve", "--output-dir", "plain/" + hostile, "a.ARC"}),
         "vexmira: plain/" + shown + ": cannot create the output folder: "},
        {"$TMPDIR for a piped standard input",
         "printf x | TMPDIR=" + ShellQuote("gone\x1B[31mred") + " " + VexmiraCommand({"-"}), "gone\\x1B[31mred"},
        {"--offset", VexmiraCommand({"--offset", "1\x1B[5m", "a.ARC"}), "vexmira: --offset 1\\x1B[5m: not a decimal"},
        {"an unknown option", VexmiraCommand({"--bogus\x1B[5m", "a.ARC"}), "unknown option: --bogus\\x1B[5m\n"},
        {"a value the parser refuses", VexmiraCommand({"--jobs", "9\x1B[5m", "a.ARC"}), "9\\x1B[5m"},
        {"a C1 control and a byte that is not UTF-8", VexmiraCommand({"--offset", "\xC2\x9B\xFF", "a.ARC"}),
         "--offset \xC3\x82\\x9B\xC3\xBF: not"},
        {"a missing file, a backslash before x", VexmiraCommand({"m\x1B\\x07.exe"}), "m\\x1B\\x5Cx07.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessResult run = RunShell(dir, c.script);
        EXPECT_NE(run.status, 0) << run;
        EXPECT_EQ(FirstRawControl(run.err), "") << run;
        EXPECT_TRUE(Contains(run.err, c.expected)) << "expected " << c.expected << "\n" << run;
    }
}

TEST(CliText, CsvIsSafeOnATerminalAndInASpreadsheet) {
    TempDir dir;
    const std::string formula = "=cmd|' /C calc'!A0";
    WriteFile(dir / "names.ARC", ArchiveBuilder()
                                     .Add("\x1B]0;PWNED\x07", 1, 1)
                                     .Add(formula, 1, 1)
                                     .Add("+1", 1, 1)
                                     .Add("-2", 1, 1)
                                     .Add("@SUM(A1)", 1, 1)
                                     .Add("\tTAB", 1, 1)
                                     .Add("a=b", 1, 1)
                                     .Add(EntrySpec{.name = "NEG", .full_size = -5, .compressed_size = 1})
                                     .Build());
    WriteFile(dir / "=x.ARC", SmallArchive());

    const ProcessResult csv = RunVexmira(dir, {"--csv", "names.ARC", "=x.ARC"});
    Lines records;
    for (std::string line : csv.OutLines()) {
        ASSERT_TRUE(line.ends_with('\r')) << "a line break only where a record ends\n" << csv;
        line.pop_back();
        EXPECT_EQ(FirstRawControl(line), "") << csv;
        records.push_back(line);
    }
    ASSERT_EQ(records.size(), 1u + 8 + 2) << csv;
    // file, path_encoding, listed, offset, located, passed_over, the archive header's five fields, then
    // name and full_size.
    const auto starts = [&](std::size_t record, const std::string& prefix) {
        EXPECT_TRUE(records[record].starts_with(prefix)) << "record " << record << ": " << records[record];
    };
    starts(1, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,\\x1B]0;PWNED\\x07,1,");
    starts(2, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,'=cmd|' /C calc'!A0,1,");
    starts(3, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,'+1,1,");
    starts(4, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,'-2,1,");
    starts(5, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,'@SUM(A1),1,");
    starts(6, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,\\x09TAB,1,");
    starts(7, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,a=b,1,");
    starts(8, "names.ARC,utf-8,names.ARC,0,,,LZH,0,0,0,21,NEG,-5,1,");  // numbers stay numbers
    starts(9, "'=x.ARC,utf-8,'=x.ARC,0,,,LZH,0,0,0,21,README.TXT,5120,");
}

// ---------------------------------------------------------------------------
// Running out of memory, and usage

TEST(CliMemory, OutOfMemoryInOneFileIsReportedAndTheNextIsExamined) {
    TempDir dir;
    WriteFile(dir / "a.ARC", SmallArchive());
    WriteFile(dir / "b.ARC", SmallArchive());
    WriteFile(dir / "setup.exe", Carrier(3000, SmallArchive()));
    for (const std::string failing : {"a.ARC", "setup.exe"}) {
        SCOPED_TRACE(failing);
        const std::string env = "VEXMIRA_TEST_FAIL_ALLOCATION=" + ShellQuote(failing) + " ";
        const ProcessResult json = RunShell(dir, env + VexmiraCommand({"--json", failing, "b.ARC"}));
        EXPECT_EQ(json.status, 2) << json;
        const std::vector<Json> objects = json.Objects();
        ASSERT_EQ(objects.size(), 2u) << json;
        EXPECT_EQ(objects[0]["error"], "Out of memory");
        EXPECT_TRUE(objects[0]["archive_end"].is_null());
        EXPECT_TRUE(objects[1]["error"].is_null());
        EXPECT_EQ(objects[1]["entries"].size(), 2u);

        const ProcessResult plain = RunShell(dir, env + VexmiraCommand({failing, "b.ARC"}));
        ASSERT_EQ(plain.ErrLines().size(), 2u) << plain;
        EXPECT_EQ(plain.ErrLines()[0], "vexmira: " + failing + ": Out of memory") << plain;
        EXPECT_TRUE(plain.ErrLines()[1].starts_with("vexmira: 2 files: 1 found, 0 not found, 1 failed; 2 entries"))
            << plain;
        EXPECT_TRUE(Contains(plain.out, "File: b.ARC\nListed: b.ARC\n")) << plain;
    }
}

TEST(CliUsage, AnUnknownOptionIsNamed) {
    TempDir dir;
    for (const std::string option : {"-x.exe", "--bogus", "--jsn=1"}) {
        const ProcessResult run = RunVexmira(dir, {option, "a.ARC"});
        EXPECT_EQ(run.status, 64) << run;
        EXPECT_TRUE(Contains(run.err, "unknown option: " + option)) << run;
    }
    EXPECT_TRUE(Contains(RunVexmira(dir, {"--help"}).out, "\"--\" ends the options"));
    WriteFile(dir / "-x.ARC", SmallArchive());
    EXPECT_EQ(RunVexmira(dir, {"--", "-x.ARC"}).status, 0);
}

}  // namespace
}  // namespace vexmira::testing
