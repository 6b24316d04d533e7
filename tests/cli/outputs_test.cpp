// What vexmira writes: never outside its folder, never one input's output
// over another's (the first named has it), never over what appeared while it
// was written, never half a file; what it wrote is not read back as input;
// a full disk names the file; and every input it cannot take (or reach in a
// walk) is an error of the run.

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
#include <utility>

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

// `archive` after `holeSize` bytes that take no room on the disk.
void WriteAfterHole(const fs::path& path, std::int64_t holeSize, const Bytes& archive) {
    std::ofstream out(path, std::ios::binary);
    out.seekp(holeSize);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
}

std::size_t SideFilesBelow(const fs::path& root) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) count += entry.path().string().ends_with("$$$");
    return count;
}

// Swaps two names in one step, over and over, until it goes: a folder and a
// link take each other's place without either name ever missing.
class NameSwapper {
public:
    NameSwapper(std::string a, std::string b) : a_(std::move(a)), b_(std::move(b)) {}
    ~NameSwapper() { Stop(); }
    NameSwapper(const NameSwapper&) = delete;
    NameSwapper& operator=(const NameSwapper&) = delete;
    // False when this file system cannot exchange names.
    bool Start() {
        if (renameat2(AT_FDCWD, a_.c_str(), AT_FDCWD, b_.c_str(), RENAME_EXCHANGE) != 0) return false;
        racer_ = std::thread([this] {
            while (!stop_) renameat2(AT_FDCWD, a_.c_str(), AT_FDCWD, b_.c_str(), RENAME_EXCHANGE);
        });
        return true;
    }
    void Stop() {
        stop_ = true;
        if (racer_.joinable()) racer_.join();
    }

private:
    std::string a_;
    std::string b_;
    std::atomic<bool> stop_ = false;
    std::thread racer_;
};

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
    NameSwapper swapper((dir / "out/p").string(), (dir / "out/other").string());
    if (!swapper.Start()) GTEST_SKIP() << "this file system cannot exchange two names";
    const ProcessResult runs = RunShell(dir,
                                        "for i in $(seq 150); do\n"
                                        "  \"$VEXMIRA\" --carve --output-dir out p/x.exe\n"
                                        "  \"$VEXMIRA\" --side-file --output-dir out p/x.exe\n"
                                        "done > /dev/null 2>&1; true");
    swapper.Stop();
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
        // The first named is listed from the file it wrote; the second names both and lists nothing.
        EXPECT_TRUE(objects[0]["error"].is_null()) << run;
        EXPECT_EQ(objects[0]["entries"][0]["name"], "TOP.TXT") << run;
        EXPECT_EQ(ReadFile(dir / "out/x.exe$$$"), ArchiveOf("TOP.TXT"));
        const std::string error = objects[1]["error"];
        EXPECT_TRUE(Contains(error, (dir / "out/x.exe$$$").string())) << error;
        EXPECT_TRUE(Contains(error, "\"" + (dir / "x.exe").string() + "\"")) << error;
        EXPECT_EQ(objects[1]["entries"], Json::array()) << run;
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
        // The copy may end between the poll and the kill on a loaded
        // machine: then its side file is whole, and the next try starts over.
        ProcessResult killed;
        for (int attempt = 0; attempt < 5; ++attempt) {
            killed = RunShell(dir, "\"$VEXMIRA\" --side-file big.exe > /dev/null & pid=$!\n"
                                   "for i in $(seq 1000); do ls -a | grep -q 'big.exe\\$\\$\\$.~' && break; sleep 0.01; done\n"
                                   "kill -" + signal + " $pid; wait $pid; echo $?");
            if (killed.out != "0\n") break;
            fs::remove(dir / "big.exe$$$");
        }
        EXPECT_NE(killed.out, "0\n") << "the copy ended before the signal came, five times\n" << killed;
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

// ---------------------------------------------------------------------------
// Never replaced

TEST(CliOutputsNeverReplace, ACarveKeepsAFileThatAppearsWhileItIsCopied) {
    TempDir dir;
    // One entry of 256 MiB of stored data, held as a hole: a copy that takes a while.
    const std::int64_t data = std::int64_t{256} << 20;
    const Bytes archive =
        ArchiveBuilder().Add(EntrySpec{.name = "BIG.DAT", .full_size = data, .compressed_size = data, .data_bytes = 0}).Build();
    WriteFile(dir / "big.exe", Carrier(1000, archive));
    fs::resize_file(dir / "big.exe", 1000 + archive.size() + static_cast<std::uintmax_t>(data));

    // Stopped once its temporary file is there, the user's file made, then let go.
    const ProcessResult run = RunShell(dir,
                                       "\"$VEXMIRA\" --json --carve big.exe > run.json & pid=$!\n"
                                       "for i in $(seq 4000); do ls -a | grep -q '^big.exe.000003E8.ARC.~' && break; sleep 0.005; done\n"
                                       "kill -STOP $pid\n"
                                       "ls -a | grep -q '^big.exe.000003E8.ARC.~' && echo copying\n"
                                       "printf theirs > big.exe.000003E8.ARC\n"
                                       "kill -CONT $pid; wait $pid; echo $?");
    ASSERT_TRUE(Contains(run.out, "copying\n")) << "the copy ended before the file could be made\n" << run;
    EXPECT_EQ(run.out, "copying\n2\n") << run;
    EXPECT_EQ(ReadFile(dir / "big.exe.000003E8.ARC"), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
    const Bytes listing = ReadFile(dir / "run.json");
    const Json object = Json::parse(std::string(listing.begin(), listing.end()));
    EXPECT_EQ(object["error"], "Cannot create file \"" + (dir / "big.exe.000003E8.ARC").string() +
                                   "\". The file exists; --force replaces it")
        << object.dump();
    EXPECT_TRUE(object["carved"].is_null()) << object.dump();
    EXPECT_EQ(Leftovers(dir.Path()), Lines{});
}

TEST(CliOutputsNeverReplace, AnOutputPathLongerThanTheSystemTakesIsNoExceptionToTheRule) {
    TempDir dir;
    // DIR of 500 bytes and an input path of about 3,770: together well past PATH_MAX.
    const std::string outDir = std::string(249, 'o') + "/" + std::string(250, 'p');
    std::string folders;
    for (int i = 0; i < 18; ++i) folders += (i == 0 ? "" : "/") + std::string(200, static_cast<char>('a' + i));
    const std::string input = folders + "/" + std::string(140, 'x') + ".exe";
    ASSERT_GT(outDir.size() + input.size(), std::size_t{4096});
    const Bytes archive = ArchiveOf("A.TXT");
    WriteFile(dir / "expected.arc", archive);
    WriteFile(dir / "carrier", Carrier(1000, archive));
    const std::string setup = "export OUT=" + ShellQuote(outDir) + " DIRS=" + ShellQuote(folders) +
                              " IN=" + ShellQuote(input) + "\n";
    const ProcessResult arranged = RunShell(dir, setup +
                                                     "mkdir -p \"$DIRS\" && cp carrier \"$IN\"\n"
                                                     "mkdir -p \"$OUT\" && (cd \"$OUT\" && mkdir -p \"$DIRS\" && "
                                                     "printf theirs > \"$IN.000003E8.ARC\") && echo ok");
    ASSERT_EQ(arranged.out, "ok\n") << arranged;

    const ProcessResult kept = RunShell(dir, setup + "\"$VEXMIRA\" --json --carve --output-dir \"$OUT\" \"$IN\"; echo $?\n"
                                                     "cd \"$OUT\" && cat \"$IN.000003E8.ARC\"");
    const Lines keptLines = kept.OutLines();
    ASSERT_EQ(keptLines.size(), 3u) << kept;
    EXPECT_TRUE(Contains(Json::parse(keptLines[0])["error"], "The file exists; --force replaces it")) << kept;
    EXPECT_EQ(keptLines[1], "2") << kept;
    EXPECT_EQ(keptLines[2], "theirs") << kept;

    const ProcessResult forced = RunShell(dir, setup + "\"$VEXMIRA\" --carve --force --output-dir \"$OUT\" \"$IN\" > /dev/null; echo $?\n"
                                                       "cd \"$OUT\" && cmp -s \"$IN.000003E8.ARC\" ../../expected.arc && echo carved");
    EXPECT_EQ(forced.out, "0\ncarved\n") << forced;
    // Paths this deep are beyond what the scratch folder's removal reaches.
    RunShell(dir, "rm -rf ./*");
}

// ---------------------------------------------------------------------------
// No escape, no split

TEST(CliOutputsStayInTheirFolder, TheNamedFolderSwappedForALinkMeanwhileSplitsNothing) {
    TempDir dir;
    fs::create_directories(dir / "in");
    for (int i = 0; i < 400; ++i) WriteFile(dir / "in" / ("f" + std::to_string(1000 + i) + ".exe"), Carrier(100, ArchiveOf("A.TXT")));
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink("elsewhere", dir / "swap");
    // "out" is now the real folder, now a link to elsewhere/.
    NameSwapper swapper((dir / "out").string(), (dir / "swap").string());
    if (!swapper.Start()) GTEST_SKIP() << "this file system cannot exchange two names";
    const ProcessResult run = RunVexmira(dir, {"--side-file", "-j", "2", "--output-dir", "out", "-r", "in"});
    swapper.Stop();
    EXPECT_EQ(run.status, 0) << run;
    // Wherever "out" led when the run began, all went there.
    const fs::path real = fs::is_symlink(dir / "out") ? dir / "swap" : dir / "out";
    const std::size_t inReal = SideFilesBelow(real);
    const std::size_t inElsewhere = SideFilesBelow(dir / "elsewhere");
    EXPECT_TRUE((inReal == 400 && inElsewhere == 0) || (inReal == 0 && inElsewhere == 400))
        << inReal << " side files in the folder, " << inElsewhere << " where its link led";
    EXPECT_EQ(Leftovers(dir.Path()), Lines{});
}

// ---------------------------------------------------------------------------
// The first named has it

TEST(CliOutputsNeverCollide, OfTwoInputsWithOneOutputTheSecondNamedGetsTheError) {
    TempDir dir;
    // The first takes far longer to locate, so with -j 2 the second is
    // always first to want the place.
    WriteAfterHole(dir / "x.exe", std::int64_t{256} << 20, ArchiveOf("TOP.TXT"));
    fs::create_directories(dir / "a/b");
    WriteFile(dir / "a/x.exe", Carrier(1000, ArchiveOf("OTHER.TXT")));
    fs::create_directory_symlink("a/b", dir / "lnk");
    fs::create_directories(dir / "out");
    // "lnk/../x.exe" is a/x.exe, yet maps to out/x.exe$$$ as "x.exe" does.
    const ProcessResult run = RunVexmira(dir, {"--json", "--side-file", "-j", "2", "--output-dir", "out", "x.exe", "lnk/../x.exe"});
    EXPECT_EQ(run.status, 2) << run;
    const std::vector<Json> objects = run.Objects();
    ASSERT_EQ(objects.size(), 2u) << run;
    EXPECT_TRUE(objects[0]["error"].is_null()) << run;
    EXPECT_EQ(objects[0]["entries"][0]["name"], "TOP.TXT") << run;
    EXPECT_EQ(objects[1]["error"], "Cannot create file \"" + (dir / "out/x.exe$$$").string() + "\". It holds what this run wrote for \"" +
                                       (dir / "x.exe").string() + "\", which maps to the same output")
        << run;
    EXPECT_EQ(ReadFile(dir / "out/x.exe$$$"), ArchiveOf("TOP.TXT"));
    EXPECT_EQ(Leftovers(dir.Path()), Lines{});
}

// ---------------------------------------------------------------------------
// Said on a full disk

TEST(CliOutputsOnAFullDisk, TheErrorNamesTheFileAndItsRoomIsGivenBackFirst) {
    TempDir dir;
    // 4 MiB after the archive: the side file does not fit in 2 MiB.
    WriteFile(dir / "big.exe", Carrier(1000, ArchiveOf("A.TXT"), std::size_t{4} << 20));
    fs::create_directories(dir / "full");
    // The listing goes to the same full disk as the side file.
    const ProcessResult run = RunShell(dir,
                                       "unshare -m sh -c 'mount -t tmpfs -o size=2m tmpfs full || exit 77\n"
                                       "  \"$VEXMIRA\" -j 1 --side-file --output-dir full big.exe > full/out.txt\n"
                                       "  echo $?; cat full/out.txt; ls -a full'");
    if (run.status == 77 || Contains(run.err, "unshare")) GTEST_SKIP() << "no tmpfs can be mounted here\n" << run;
    EXPECT_EQ(run.OutLines(), (Lines{"2", "File: big.exe", "Offset: 000003E8 - 0 Kb", ".", "..", "out.txt"})) << run;
    EXPECT_EQ(run.ErrLines(), (Lines{"vexmira: big.exe: Stream write error in file \"" + (dir / "full/big.exe$$$").string() +
                                     "\". No space left on device"}))
        << run;
}

// ---------------------------------------------------------------------------
// Nothing unreadable in silence

TEST(CliRecursion, WhatAWalkCannotReachIsAnErrorOfTheRun) {
    TempDir dir;
    WriteFile(dir / "a.exe", Carrier(1000, ArchiveOf("A.TXT")));
    // A file whose path is longer than the system takes, below folders it can still walk.
    const ProcessResult deep = RunShell(dir,
                                        "d=tree; for i in $(seq 21); do d=\"$d/$(printf 'd%.0s' $(seq 190))\"; done\n"
                                        "top=$PWD; mkdir -p \"$d\" && (cd \"$d\" && cp \"$top/a.exe\" \"$(printf 'f%.0s' $(seq 140))$(printf '\\033').exe\") && echo ok");
    ASSERT_EQ(deep.out, "ok\n") << deep;
    const ProcessResult json = RunVexmira(dir, {"--json", "-r", "tree"});
    EXPECT_EQ(json.status, 2) << json;
    ASSERT_EQ(json.Objects().size(), 1u) << json;
    EXPECT_TRUE(Contains(json.Objects()[0]["error"], "File name too long")) << json;
    const ProcessResult plain = RunVexmira(dir, {"-r", "tree"});
    EXPECT_EQ(plain.status, 2) << plain;
    EXPECT_TRUE(Contains(plain.out + plain.err, "\\x1B.exe")) << plain;
    EXPECT_FALSE(Contains(plain.out + plain.err, "\x1b")) << plain;
    RunShell(dir, "rm -rf tree");

    // A folder that can be read but not searched: its names are there, its files out of reach.
    fs::create_directories(dir / "tree/locked");
    WriteFile(dir / "tree/locked/inner.exe", Carrier(1000, ArchiveOf("A.TXT")));
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir / "tree/locked", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // Root passes every permission check: the tool runs as nobody then.
    const std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const ProcessResult reachable = RunShell(dir, as + "sh -c 'test -x tree && test -x \"$VEXMIRA\" && echo yes'");
    const ProcessResult locked = RunShell(dir, as + VexmiraCommand({"--json", "-r", "tree"}));
    fs::permissions(dir / "tree/locked", fs::perms::owner_all);
    if (reachable.out != "yes\n") GTEST_SKIP() << "the scratch folder is out of that user's reach\n" << reachable;
    EXPECT_EQ(locked.status, 2) << locked;
    ASSERT_EQ(locked.Objects().size(), 1u) << locked;
    EXPECT_EQ(locked.Objects()[0]["file"], "tree/locked/inner.exe") << locked;
    EXPECT_TRUE(Contains(locked.Objects()[0]["error"], "Permission denied")) << locked;
}

}  // namespace
}  // namespace vexmira::testing
