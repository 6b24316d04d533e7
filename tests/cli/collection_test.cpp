// vexmira over collections: walking folders, reading file lists, examining
// in parallel in input order, writing side files to an output folder, and a
// progress line only on a terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

Bytes SmallArchive() { return ArchiveBuilder().Add("README.TXT", 5120, 2210).Build(); }

std::vector<std::string> Files(const ProcessResult& run) {
    std::vector<std::string> files;
    for (const Json& object : run.Objects()) files.push_back(object["file"]);
    return files;
}

// tree/ with files in several folders, a side file, a link to a folder and a
// link back up.
void MakeTree(const TempDir& dir) {
    fs::create_directories(dir / "tree/sub");
    fs::create_directories(dir / "tree/B");
    WriteFile(dir / "tree/b.exe", Carrier(3000, SmallArchive()));
    WriteFile(dir / "tree/a.ARC", SmallArchive());
    WriteFile(dir / "tree/B/z.ARC", SmallArchive());
    WriteFile(dir / "tree/sub/c.ARC", SmallArchive());
    WriteFile(dir / "tree/old.exe$$$", SmallArchive());
    fs::create_directory_symlink("sub", dir / "tree/link");
    fs::create_directory_symlink("..", dir / "tree/sub/up");
    fs::create_symlink("a.ARC", dir / "tree/same.ARC");
}

TEST(CliCollection, FoldersAreWalkedInByteOrderWithoutLinksOrSideFiles) {
    TempDir dir;
    MakeTree(dir);
    const ProcessResult plain = RunVexmira(dir, {"--json", "--in-place", "-r", "tree"});
    EXPECT_EQ(plain.status, 0) << plain;
    EXPECT_EQ(Files(plain), (Lines{"tree/B/z.ARC", "tree/a.ARC", "tree/b.exe", "tree/sub/c.ARC"})) << plain;
    // The side file's name is skipped, and said to be.
    EXPECT_EQ(plain.err, "vexmira: skipped 1 file named as this tool's outputs, tree/old.exe$$$; name it to examine it\n")
        << plain;

    // Followed links reach sub/ first through "link"; the loop back up is
    // an error of the run, in its place, and not walked; every file is examined once.
    const ProcessResult followed = RunVexmira(dir, {"--json", "--in-place", "-r", "--follow-links", "tree"});
    EXPECT_EQ(followed.status, 2) << followed;
    EXPECT_EQ(Files(followed), (Lines{"tree/B/z.ARC", "tree/a.ARC", "tree/b.exe", "tree/link/c.ARC", "tree/link/up"}))
        << followed;
    EXPECT_EQ(followed.Objects().back()["error"],
              "Cannot open file \"" + (dir / "tree/link/up").string() + "\". A symbolic link loop: the folder is not walked")
        << followed;
    EXPECT_TRUE(followed.err.starts_with("vexmira: skipped 1 file named")) << followed;

    // Named files are always examined, and each once.
    const ProcessResult named =
        RunVexmira(dir, {"--json", "--in-place", "tree/old.exe$$$", "tree/a.ARC", "tree/same.ARC", "tree/a.ARC"});
    EXPECT_EQ(Files(named), (Lines{"tree/old.exe$$$", "tree/a.ARC"})) << named;

    // Without -r a folder is an error that says what to do.
    const ProcessResult folder = RunVexmira(dir, {"--json", "tree"});
    EXPECT_EQ(folder.status, 2) << folder;
    ASSERT_EQ(folder.Objects().size(), 1u) << folder;
    EXPECT_EQ(folder.Objects()[0]["error"],
              "Cannot open file \"" + (dir / "tree").string() + "\". Is a directory; use -r to examine the files in it");
}

TEST(CliCollection, WalksSayWhatTheySkipByName) {
    TempDir dir;
    fs::create_directories(dir / "in/deep");
    WriteFile(dir / "in/setup.exe", Carrier(3000, SmallArchive()));
    WriteFile(dir / "in/setup.exe$$$", SmallArchive());
    WriteFile(dir / "in/deep/setup.0000BB8.ARC", SmallArchive());       // seven digits: no carve's name
    WriteFile(dir / "in/deep/setup.00000BB8.ARC", SmallArchive());
    WriteFile(dir / "in/deep/z.exe$$$", SmallArchive());
    fs::create_directory(dir / "in/folder$$$");                           // a folder is walked, whatever its name
    WriteFile(dir / "in/folder$$$/inner.ARC", SmallArchive());
    fs::create_symlink("setup.exe", dir / "in/link$$$");                 // not a regular file: not counted

    const ProcessResult summary = RunVexmira(dir, {"--summary", "-r", "in"});
    EXPECT_EQ(summary.status, 0) << summary;
    EXPECT_EQ(summary.OutLines().size(), 4u) << "a header and three files\n" << summary;
    const Lines err = summary.ErrLines();
    ASSERT_EQ(err.size(), 2u) << summary;
    EXPECT_EQ(err[0], "vexmira: skipped 3 files named as this tool's outputs, the first in/deep/setup.00000BB8.ARC; "
                      "name them to examine them");
    EXPECT_TRUE(err[1].starts_with("vexmira: 3 files: 3 found, 0 not found, 0 failed, "
                                   "3 files skipped as this tool's outputs; "))
        << "--summary counts them\n" << summary;

    // Named, such a file is examined, and nothing is said.
    const ProcessResult named = RunVexmira(dir, {"-q", "in/setup.exe$$$"});
    EXPECT_EQ(named.status, 0) << named;
    EXPECT_EQ(named.err, "") << named;
}

// "vexmira: ..." without its closing " in 0.01 s", which no test can know.
std::string WithoutSeconds(const std::string& line) {
    const std::size_t in = line.rfind(" in ");
    EXPECT_TRUE(in != std::string::npos && line.ends_with(" s")) << line;
    return line.substr(0, in);
}

TEST(CliCollection, AnAccountEndsARunOverManyFiles) {
    TempDir dir;
    const Bytes carrier = Carrier(3000, SmallArchive());
    const Bytes archive = SmallArchive();
    const Bytes plain = Carrier(200, {});
    WriteFile(dir / "setup.exe", carrier);
    WriteFile(dir / "a.ARC", archive);
    WriteFile(dir / "plain.exe", plain);
    WriteFile(dir / "bad.ARC", ArchiveBuilder().ArchiveType(2).Add("X", 1, 1).Build());
    const Bytes custom = ArchiveBuilder().CompressId("CUS").Add("CUSTOM.BIN", 10, 10, 3).Add("MORE.BIN", 1, 1).Build();
    Bytes twoKinds = Carrier(1000, archive);
    twoKinds.resize(twoKinds.size() + 500, 0xFF);
    twoKinds.insert(twoKinds.end(), custom.begin(), custom.end());
    WriteFile(dir / "two.exe", twoKinds);
    const std::uint64_t bytes = carrier.size() + archive.size() + plain.size() + fs::file_size(dir / "bad.ARC");
    const std::string files = std::to_string(bytes) + " bytes";

    // After the listings, on standard error: each file once by its outcome.
    const ProcessResult run = RunVexmira(dir, {"setup.exe", "a.ARC", "plain.exe", "bad.ARC", "missing.exe"});
    EXPECT_EQ(run.status, 2) << run;
    ASSERT_FALSE(run.ErrLines().empty()) << run;
    EXPECT_EQ(WithoutSeconds(run.ErrLines().back()),
              "vexmira: 5 files: 2 found, 1 not found, 2 failed; 2 entries, " + files)
        << run;
    // One file, or -q: none; --stats: always, -q or not.
    EXPECT_EQ(RunVexmira(dir, {"setup.exe"}).err, "");
    EXPECT_EQ(RunVexmira(dir, {"-q", "setup.exe", "a.ARC"}).err, "");
    const ProcessResult one = RunVexmira(dir, {"-q", "--stats", "a.ARC"});
    EXPECT_EQ(WithoutSeconds(one.err.substr(0, one.err.size() - 1)),
              "vexmira: 1 file: 1 found, 0 not found, 0 failed; 1 entry, " + std::to_string(archive.size()) + " bytes")
        << one;
    EXPECT_EQ(one.err.back(), '\n');

    // Without --all: the headers the scan saw and passed over are counted too.
    const ProcessResult seen = RunVexmira(dir, {"--csv", "--stats", "two.exe", "plain.exe"});
    EXPECT_EQ(WithoutSeconds(seen.ErrLines().back()),
              "vexmira: 2 files: 1 found, 1 not found, 0 failed, 1 header passed over by the locator's rule; 1 entry, " +
                  std::to_string(twoKinds.size() + plain.size()) + " bytes")
        << seen;

    // --all: headers passed over by the locator's rule, and their entries too.
    const ProcessResult all = RunVexmira(dir, {"--all", "--csv", "--stats", "two.exe", "plain.exe"});
    EXPECT_EQ(WithoutSeconds(all.ErrLines().back()),
              "vexmira: 2 files: 1 found, 1 not found, 0 failed, 1 header passed over by the locator's rule; 3 entries, " +
                  std::to_string(twoKinds.size() + plain.size()) + " bytes")
        << all;

    // JSON: standard error stays empty; --stats adds one last object, and
    // only then.
    const ProcessResult json = RunVexmira(dir, {"--json", "setup.exe", "a.ARC", "plain.exe"});
    EXPECT_EQ(json.err, "") << json;
    for (const Json& object : json.Objects()) EXPECT_FALSE(object.contains("kind")) << object;
    for (const std::vector<std::string>& form : {Lines{"--json"}, Lines{"--json", "--summary"}}) {
        std::vector<std::string> args = form;
        for (const char* name : {"--stats", "setup.exe", "a.ARC", "plain.exe"}) args.emplace_back(name);
        const ProcessResult stats = RunVexmira(dir, args);
        EXPECT_EQ(stats.err, "") << stats;
        const std::vector<Json> objects = stats.Objects();
        ASSERT_EQ(objects.size(), 4u) << stats;
        Json last = objects.back();
        EXPECT_TRUE(last["seconds"].is_number()) << last;
        last.erase("seconds");
        EXPECT_EQ(last.dump(), R"({"schema_version":"2.5","kind":"stats","files":3,"found":2,"not_found":1,"failed":0,)"
                               R"("passed_over":0,"skipped":0,"entries":2,"bytes":)" +
                                   std::to_string(carrier.size() + archive.size() + plain.size()) + "}")
            << stats;
    }
}

TEST(CliCollection, FileListsByLineOrNul) {
    TempDir dir;
    MakeTree(dir);
    WriteFile(dir / "list.txt", Bytes{'t', 'r', 'e', 'e', '/', 'a', '.', 'A', 'R', 'C', '\n', '\n',
                                      't', 'r', 'e', 'e', '/', 'b', '.', 'e', 'x', 'e', '\r', '\n'});
    EXPECT_EQ(Files(RunVexmira(dir, {"--json", "--in-place", "--files-from", "list.txt"})),
              (Lines{"tree/a.ARC", "tree/b.exe"}));
    const ProcessResult nul = RunShell(dir, "printf 'tree/sub/c.ARC\\0tree/B\\0' | " +
                                                VexmiraCommand({"--json", "-r", "-0", "--files-from", "-", "tree/a.ARC"}));
    EXPECT_EQ(Files(nul), (Lines{"tree/a.ARC", "tree/sub/c.ARC", "tree/B/z.ARC"})) << "named files first, then the list";
}

TEST(CliCollection, ParallelJobsPrintEachFileWholeInInputOrder) {
    TempDir dir;
    // Small files and large ones whose output passes what a waiting file may
    // hold, so that workers must wait for their turn.
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        ArchiveBuilder builder;
        const int entries = i % 7 == 3 ? 2000 : 1 + i;  // 2,000 entries print about 450 KiB of JSON
        for (int k = 0; k < entries; ++k) builder.Add("F" + std::to_string(i) + "_" + std::to_string(k), k, k / 2);
        names.push_back("f" + std::to_string(i) + ".ARC");
        WriteFile(dir / names.back(), builder.Build());
    }
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), names.begin(), names.end());
    const ProcessResult one = RunShell(dir, VexmiraCommand(args) + " --jobs 1 | cat");
    const ProcessResult four = RunShell(dir, VexmiraCommand(args) + " --jobs 4 | cat");
    EXPECT_EQ(four.status, 0) << four.err;
    EXPECT_EQ(Files(four), names);
    EXPECT_TRUE(one.out == four.out) << "the same bytes whatever the number of jobs";

    std::vector<std::string> plainArgs(names.begin(), names.end());
    const ProcessResult plainOne = RunShell(dir, VexmiraCommand(plainArgs) + " -j1");
    const ProcessResult plainFour = RunShell(dir, VexmiraCommand(plainArgs) + " -j4");
    EXPECT_TRUE(plainOne.out == plainFour.out);
    EXPECT_EQ(plainFour.out.rfind("File: f0.ARC\n", 0), 0u);
}

TEST(CliCollection, OutputFolderKeepsEachInputsPathAndRefusesLinks) {
    TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    fs::create_directories(dir / "out");
    const Bytes archive = SmallArchive();
    WriteFile(dir / "a/setup.exe", Carrier(3000, archive));
    WriteFile(dir / "b/setup.exe", Carrier(5000, archive));
    const std::string absolute = (dir / "b/setup.exe").string();

    const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "--output-dir", "out", "a/setup.exe", absolute});
    EXPECT_EQ(run.status, 0) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 2u) << run;
    EXPECT_EQ(objects[0]["listed"], "out/a/setup.exe$$$");
    EXPECT_EQ(objects[1]["listed"], "out" + absolute + "$$$");
    const ProcessResult dotted = RunVexmira(dir, {"--json", "--side-file", "--output-dir", "out", "a/../b/setup.exe"});
    ASSERT_EQ(dotted.Objects().size(), 1u) << dotted;
    EXPECT_EQ(dotted.Objects()[0]["listed"], "out/b/setup.exe$$$");
    EXPECT_EQ(ReadFile(dir / "out/a/setup.exe$$$"), archive);
    EXPECT_EQ(ReadFile(dir / ("out" + absolute + "$$$")), archive);
    EXPECT_FALSE(fs::exists(dir / "a/setup.exe$$$")) << "nothing next to the input";

    // A path that climbs out stays inside the output folder.
    fs::create_directories(dir / "deep/x");
    const ProcessResult up = RunShell(dir, "cd deep/x && " + VexmiraCommand({"--json", "--side-file", "--output-dir", "../../out", "../../a/setup.exe"}));
    ASSERT_EQ(up.Objects().size(), 1u) << up;
    EXPECT_EQ(up.Objects()[0]["listed"], "../../out/%2E%2E/%2E%2E/a/setup.exe$$$") << up;

    // The link rules hold here too: a link on the way or in the file's place.
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "out/c");
    fs::create_directories(dir / "c");
    WriteFile(dir / "c/setup.exe", Carrier(3000, archive));
    fs::create_directories(dir / "d");
    fs::create_directories(dir / "out/d");
    WriteFile(dir / "victim", Bytes{'v'});
    fs::create_symlink(dir / "victim", dir / "out/d/setup.exe$$$");
    WriteFile(dir / "d/setup.exe", Carrier(3000, archive));
    const ProcessResult links = RunVexmira(dir, {"--json", "--side-file", "--output-dir", "out", "c/setup.exe", "d/setup.exe"});
    EXPECT_EQ(links.status, 2) << links;
    ASSERT_EQ(links.Objects().size(), 2u) << links;
    EXPECT_EQ(links.Objects()[0]["error"], "Cannot create file \"" + (dir / "out/c/setup.exe$$$").string() +
                                                "\". A folder on the way is a symbolic link or a file");
    EXPECT_EQ(links.Objects()[1]["error"],
              "Cannot create file \"" + (dir / "out/d/setup.exe$$$").string() + "\". The file is a symbolic link");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(ReadFile(dir / "victim"), Bytes{'v'});

    // The output folder is never walked as input.
    const ProcessResult walk = RunVexmira(dir, {"--json", "--in-place", "-r", "--output-dir", "out", "."});
    for (const std::string& file : Files(walk)) EXPECT_FALSE(file.starts_with("./out/")) << file;
}

TEST(CliCollection, ProgressOnlyOnATerminalAndNotWhenQuiet) {
    TempDir dir;
    fs::create_directory(dir / "in");
    for (int i = 0; i < 30; ++i) WriteFile(dir / ("in/f" + std::to_string(i) + ".ARC"), SmallArchive());
    // `script` gives the tool a terminal; standard output goes to a file, so
    // the terminal shows standard error alone.
    const auto onTerminal = [&](const std::string& flags) {
        const std::string inner = "VEXMIRA_TEST_PROGRESS_AFTER=0 " + VexmiraCommand({"-r", "-j1"}) + " " + flags +
                                  " in > listing.txt";
        return RunShell(dir, "script -qec " + ShellQuote(inner) + " /dev/null");
    };
    const ProcessResult shown = onTerminal("");
    EXPECT_EQ(shown.status, 0) << shown;
    EXPECT_TRUE(Contains(shown.out, " files, ")) << shown;
    EXPECT_TRUE(Contains(shown.out, "MiB/s")) << shown;
    EXPECT_TRUE(Contains(shown.out, "\r\x1B[K")) << "the line is wiped at the end\n" << shown;
    const ProcessResult quiet = onTerminal("--quiet");
    EXPECT_FALSE(Contains(quiet.out, "MiB/s")) << quiet;
    // Never in a pipe or a file.
    const ProcessResult piped = RunShell(dir, "VEXMIRA_TEST_PROGRESS_AFTER=0 " + VexmiraCommand({"-r", "in"}) + " 2>&1 | cat");
    EXPECT_FALSE(Contains(piped.out, "MiB/s")) << piped;
}

}  // namespace
}  // namespace vexmira::testing
