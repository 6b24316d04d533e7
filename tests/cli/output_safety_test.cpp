// What the writer promises under attack: a carve never replaces what
// appeared while it was written, however long its path; a folder swapped for
// a link meanwhile splits nothing; of two inputs with one output the first
// named has it; a full disk names the file; and -r says what it cannot reach.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cli/cli_helpers.hpp"

namespace vexmira::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

Bytes ArchiveOf(const std::string& name) { return ArchiveBuilder().Add(name, 5120, 2210).Add("SETUP.INI", 812, 530, 1).Build(); }

// `archive` after `holeSize` bytes that take no room on the disk.
void WriteAfterHole(const fs::path& path, std::int64_t holeSize, const Bytes& archive) {
    std::ofstream out(path, std::ios::binary);
    out.seekp(holeSize);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
}

// Names of unfinished outputs left anywhere below `root`.
Lines Leftovers(const fs::path& root) {
    Lines left;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".~") != std::string::npos) left.push_back(entry.path().string());
    }
    return left;
}

std::size_t SideFilesBelow(const fs::path& root) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) count += entry.path().string().ends_with("$$$");
    return count;
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
    const std::string out = (dir / "out").string();
    const std::string swap = (dir / "swap").string();
    if (renameat2(AT_FDCWD, out.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) != 0) {
        GTEST_SKIP() << "this file system cannot exchange two names";
    }
    // "out" is now the real folder, now a link to elsewhere/, in one step each time.
    std::atomic<bool> stop = false;
    std::thread racer([&] {
        while (!stop) renameat2(AT_FDCWD, out.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
    });
    const ProcessResult run = RunVexmira(dir, {"--side-file", "-j", "2", "--output-dir", "out", "-r", "in"});
    stop = true;
    racer.join();
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
    const ProcessResult locked = RunShell(dir, as + VexmiraCommand({"--json", "-r", "tree"}));
    fs::permissions(dir / "tree/locked", fs::perms::owner_all);
    if (locked.status == 127 || Contains(locked.err, "setpriv")) GTEST_SKIP() << "cannot run as another user\n" << locked;
    EXPECT_EQ(locked.status, 2) << locked;
    ASSERT_EQ(locked.Objects().size(), 1u) << locked;
    EXPECT_EQ(locked.Objects()[0]["file"], "tree/locked/inner.exe") << locked;
    EXPECT_TRUE(Contains(locked.Objects()[0]["error"], "Permission denied")) << locked;
}

}  // namespace
}  // namespace vexmira::testing
