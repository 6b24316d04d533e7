// What vexmira writes: never outside its folder, never one input's output
// over another's, never half a file; what it wrote is not read back as
// input; and every input it cannot take is an error of the run.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

Bytes ArchiveOf(const std::string& name) { return ArchiveBuilder().Add(name, 5120, 2210).Add("SETUP.INI", 812, 530, 1).Build(); }

// Every file below `root`, with its bytes, links as links.
std::map<std::string, Bytes> Snapshot(const fs::path& root) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::path relative = fs::relative(entry.path(), root);
        if (entry.is_symlink()) {
            const std::string target = fs::read_symlink(entry.path()).string();
            files[relative.string()] = Bytes(target.begin(), target.end());
        } else if (entry.is_regular_file()) {
            files[relative.string()] = ReadFile(entry.path());
        }
    }
    return files;
}

// Names of unfinished outputs left anywhere below `root`.
Lines Leftovers(const fs::path& root) {
    Lines left;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".~") != std::string::npos) left.push_back(entry.path().string());
    }
    return left;
}

// ---------------------------------------------------------------------------
// No escape

TEST(CliOutputsStayInTheirFolder, SlowAFolderSwappedForALinkMeanwhileNeverLeadsOutside) {
    TempDir dir;
    fs::create_directories(dir / "p");
    fs::create_directories(dir / "out/p");
    fs::create_directories(dir / "victim");
    WriteFile(dir / "p/x.exe", Carrier(1000, ArchiveOf("A.TXT")));
    WriteFile(dir / "victim/keep", {'k'});
    fs::create_directory_symlink("../victim", dir / "out/other");
    const auto victimBefore = Snapshot(dir / "victim");

    // out/p is now the real folder, now the link, swapped in one step so
    // that the name is never missing (a run would make a real folder there).
    const std::string p = (dir / "out/p").string();
    const std::string other = (dir / "out/other").string();
    if (renameat2(AT_FDCWD, p.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) != 0) {
        GTEST_SKIP() << "this file system cannot exchange two names";
    }
    std::atomic<bool> stop = false;
    std::thread racer([&] {
        while (!stop) renameat2(AT_FDCWD, p.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
    });
    const ProcessResult runs = RunShell(dir,
                                        "for i in $(seq 150); do\n"
                                        "  \"$VEXMIRA\" --carve --output-dir out p/x.exe\n"
                                        "  \"$VEXMIRA\" --side-file --output-dir out p/x.exe\n"
                                        "done > /dev/null 2>&1; true");
    stop = true;
    racer.join();
    EXPECT_EQ(runs.status, 0) << runs;
    EXPECT_EQ(Snapshot(dir / "victim"), victimBefore) << "something was written through the link";
    EXPECT_EQ(Leftovers(dir.Path()), Lines{});
}

// ---------------------------------------------------------------------------
// No collision

TEST(CliOutputsNeverCollide, EscapesCannotMeetAndASecondInputOnOneOutputIsAnError) {
    TempDir dir;
    // "%2E%2E" as a real folder name must not meet "..".
    fs::create_directories(dir / "a/b");
    fs::create_directories(dir / "a/%2E%2E");
    WriteFile(dir / "x.exe", Carrier(1000, ArchiveOf("TOP.TXT")));
    WriteFile(dir / "a/%2E%2E/x.exe", Carrier(1000, ArchiveOf("ESCAPED.TXT")));
    fs::create_directories(dir / "out");
    const ProcessResult escaped =
        RunShell(dir, "cd a/b && " + VexmiraCommand({"--json", "--side-file", "--output-dir", "../../out", "../../x.exe", "../%2E%2E/x.exe"}));
    EXPECT_EQ(escaped.status, 0) << escaped;
    EXPECT_EQ(ReadFile(dir / "out/%2E%2E/%2E%2E/x.exe$$$"), ArchiveOf("TOP.TXT"));
    EXPECT_EQ(ReadFile(dir / "out/%2E%2E/%252E%252E/x.exe$$$"), ArchiveOf("ESCAPED.TXT"));

    // "lnk/../x.exe" is a/x.exe, yet maps to out/x.exe$$$ as "x.exe" does.
    WriteFile(dir / "a/x.exe", Carrier(1000, ArchiveOf("OTHER.TXT")));
    fs::create_directory_symlink("a/b", dir / "lnk");
    for (const std::string jobs : {"1", "2"}) {
        SCOPED_TRACE("-j " + jobs);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        const auto outside = Snapshot(dir / "a");
        const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "-j", jobs, "--output-dir", "out", "x.exe", "lnk/../x.exe"});
        EXPECT_EQ(run.status, 2) << run;
        const std::vector<Json> objects = run.Objects();
        ASSERT_EQ(objects.size(), 2u) << run;
        // One is listed from the file it wrote; the other names both and lists nothing.
        const std::size_t failed = objects[0]["error"].is_null() ? 1 : 0;
        const Json& listed = objects[1 - failed];
        EXPECT_TRUE(listed["error"].is_null()) << run;
        const std::string winner = listed["file"] == "x.exe" ? "TOP.TXT" : "OTHER.TXT";
        EXPECT_EQ(listed["entries"][0]["name"], winner) << run;
        EXPECT_EQ(ReadFile(dir / "out/x.exe$$$"), ArchiveOf(winner));
        const std::string error = objects[failed]["error"];
        EXPECT_TRUE(Contains(error, (dir / "out/x.exe$$$").string())) << error;
        // The other input, as given or with its ".." folded: which one wins the
        // race with -j 2 decides whether a link lies in its path.
        const fs::path other = fs::absolute(dir / std::string(listed["file"]));
        EXPECT_TRUE(Contains(error, other.string()) || Contains(error, other.lexically_normal().string())) << error;
        EXPECT_EQ(objects[failed]["entries"], Json::array()) << run;
        EXPECT_EQ(Snapshot(dir / "a"), outside);
        EXPECT_EQ(Leftovers(dir.Path()), Lines{});
    }
}

// ---------------------------------------------------------------------------
// Whole or nothing

TEST(CliOutputsAreWhole, AWriteThatFailsOrASignalLeavesNothingHalfWritten) {
    TempDir dir;
    // An archive of 600 KB, stored data included.
    WriteFile(dir / "c.exe", Carrier(1000, ArchiveBuilder().Add("BIG.DAT", 700000, 600000).Build()));
    WriteFile(dir / "c.exe$$$", {'o', 'l', 'd'});
    // Files may grow to 200 KB; SIGXFSZ ignored, so the write fails instead.
    for (const std::string mode : {"--side-file", "--carve"}) {
        SCOPED_TRACE("mode " + mode);
        const ProcessResult full = RunShell(dir, "trap '' XFSZ; ulimit -f 200; \"$VEXMIRA\" --json " + mode + " c.exe");
        EXPECT_EQ(full.status, 2) << full;
        ASSERT_EQ(full.Objects().size(), 1u) << full;
        EXPECT_TRUE(Contains(full.Objects()[0]["error"], "Stream write error")) << full;
    }
    EXPECT_EQ(ReadFile(dir / "c.exe$$$"), (Bytes{'o', 'l', 'd'})) << "the earlier side file stays as it was";
    EXPECT_FALSE(fs::exists(dir / "c.exe.000003E8.ARC"));
    EXPECT_EQ(Leftovers(dir.Path()), Lines{});

    // A copy of 1 GiB ended by SIGTERM or SIGHUP once its file exists.
    {
        std::ofstream big(dir / "big.exe", std::ios::binary);
        const Bytes carrier = Carrier(1000, ArchiveOf("A.TXT"));
        big.write(reinterpret_cast<const char*>(carrier.data()), static_cast<std::streamsize>(carrier.size()));
    }
    fs::resize_file(dir / "big.exe", std::uintmax_t{1} << 30);
    for (const std::string signal : {"TERM", "HUP"}) {
        SCOPED_TRACE(signal);
        const ProcessResult killed = RunShell(dir,
                                              "\"$VEXMIRA\" --side-file big.exe > /dev/null & pid=$!\n"
                                              "for i in $(seq 1000); do ls -a | grep -q 'big.exe\\$\\$\\$.~' && break; sleep 0.01; done\n"
                                              "kill -" + signal + " $pid; wait $pid; echo $?");
        EXPECT_NE(killed.out, "0\n") << "the copy ended before the signal came\n" << killed;
        EXPECT_FALSE(fs::exists(dir / "big.exe$$$"));
        EXPECT_EQ(Leftovers(dir.Path()), Lines{});
    }
}

TEST(CliOutputsAreWhole, ACarveWithNoEntryWritesNothingAndSaysWhy) {
    TempDir dir;
    const Bytes signature = {'S', 'P', 'I', 'S', 0x1A, 'L'};
    WriteFile(dir / "end.exe", Carrier(1000, signature));
    const ProcessResult run = RunVexmira(dir, {"--json", "--carve", "end.exe"});
    EXPECT_EQ(run.status, 2) << run;
    ASSERT_EQ(run.Objects().size(), 1u) << run;
    EXPECT_TRUE(Contains(run.Objects()[0]["error"], "Nothing to carve")) << run;
    EXPECT_TRUE(run.Objects()[0]["carved"].is_null()) << run;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        EXPECT_FALSE(entry.path().extension() == ".ARC") << entry.path();
    }
}

// ---------------------------------------------------------------------------
// Outputs are not inputs

TEST(CliOutputsAreNotInputs, ASecondRecursiveCarveSeesWhatTheFirstDid) {
    TempDir dir;
    fs::create_directories(dir / "tree");
    WriteFile(dir / "tree/a.exe", Carrier(1000, ArchiveOf("A.TXT")));
    WriteFile(dir / "tree/backup.0001.ARC", ArchiveOf("MINE.TXT"));  // too few digits: no carve of ours
    const ProcessResult first = RunVexmira(dir, {"--json", "-r", "--carve", "tree"});
    // The second replaces its carve (--force) and does not take it for an input.
    const ProcessResult second = RunVexmira(dir, {"--json", "-r", "--carve", "--force", "tree"});
    EXPECT_EQ(first.status, 0) << first;
    EXPECT_TRUE(fs::exists(dir / "tree/a.exe.000003E8.ARC"));
    EXPECT_EQ(second.out, first.out);
    ASSERT_EQ(second.Objects().size(), 2u) << second;
    EXPECT_EQ(second.Objects()[0]["file"], "tree/a.exe");
    EXPECT_EQ(second.Objects()[1]["file"], "tree/backup.0001.ARC");
    // Named, a carved file is examined like any other.
    const ProcessResult named = RunVexmira(dir, {"--json", "tree/a.exe.000003E8.ARC"});
    EXPECT_EQ(named.status, 0) << named;
    EXPECT_EQ(named.Objects()[0]["entries"][0]["name"], "A.TXT");
}

// ---------------------------------------------------------------------------
// Every input error is said

TEST(CliInputErrors, ListsThatCannotBeReadNamesWithNulAndLoopsAreErrorsOfTheRun) {
    TempDir dir;
    fs::create_directories(dir / "tree");
    WriteFile(dir / "ok.ARC", ArchiveOf("A.TXT"));

    const ProcessResult folder = RunVexmira(dir, {"--files-from", "tree", "ok.ARC"});
    EXPECT_EQ(folder.status, 2) << folder;
    EXPECT_EQ(folder.err, "vexmira: --files-from tree: cannot be read: Is a directory\n") << folder;
    EXPECT_EQ(folder.out, "") << "nothing is examined when the list is not whole";
    const ProcessResult closed = RunShell(dir, VexmiraCommand({"--files-from", "-", "ok.ARC"}) + " <&-");
    EXPECT_EQ(closed.status, 2) << closed;
    EXPECT_TRUE(Contains(closed.err, "--files-from standard input: cannot be read")) << closed;

    // Without -0 a NUL is part of a line's name, which no file can have.
    WriteFile(dir / "list", {'o', 'k', '.', 'A', 'R', 'C', 0, '.', 'e', 'x', 'e', '\n'});
    const ProcessResult nul = RunVexmira(dir, {"--json", "--files-from", "list"});
    EXPECT_EQ(nul.status, 2) << nul;
    ASSERT_EQ(nul.Objects().size(), 1u) << nul;
    EXPECT_EQ(nul.Objects()[0]["file"], std::string("ok.ARC\0.exe", 11));
    EXPECT_TRUE(Contains(nul.Objects()[0]["error"], "The name holds a NUL byte")) << nul;
    EXPECT_EQ(nul.Objects()[0]["entries"], Json::array()) << "ok.ARC must not be listed in its place";
    const ProcessResult nulPlain = RunVexmira(dir, {"--files-from", "list"});
    EXPECT_TRUE(Contains(nulPlain.out + nulPlain.err, "ok.ARC\\x00.exe")) << nulPlain;

    // A loop whose name could drive a terminal.
    const std::string hostile = "lo\nop\x1b[2J";
    fs::create_directory_symlink(".", dir / "tree" / hostile);
    const ProcessResult loop = RunVexmira(dir, {"-r", "--follow-links", "tree"});
    EXPECT_EQ(loop.status, 2) << loop;
    EXPECT_TRUE(Contains(loop.out + loop.err, "lo\\x0Aop\\x1B[2J")) << loop;
    EXPECT_FALSE(Contains(loop.out + loop.err, "\x1b")) << loop;
}

}  // namespace
}  // namespace vexmira::testing
