// The side file under the real Win32 file layer: an earlier side file is
// replaced, and a name that is another file's too (a hard link) is refused,
// leaving that file as it was and listing nothing. (A read-only side file is
// refused by the system on Windows, but Wine run as root replaces it; the
// unit tests cover it.)
// Wine follows Unix symbolic links even when asked for the reparse point and
// makes no reparse points, so the reparse tags are checked as values in the
// unit tests and symbolic links on Linux.

#include <windows.h>

#include <string>

#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {
namespace {

// The offset was found, the side file refused: nothing is listed.
void ExpectRefusedSideFile(const Dialog& dialog) {
    ExpectItems(dialog, {});
    ok(dialog.Text("RIPoffset") == "00001388 - 4 Kb", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
    ok(dialog.Text("archivefile").empty(), "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
}

}  // namespace

void CaseSideFile(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const testing::Bytes archive = ArchiveOf({{"readme.txt", 2000, 900, 4}, {"setup.ini", 300, 200, 1}});
    const testing::Bytes carrier = testing::Carrier(5000, archive);
    // Another file's archive: listing it would show entries that are not the input's.
    const testing::Bytes victim = ArchiveOf({{"not-this-input.txt", 100, 50, 1}});

    {
        Context context("an earlier, longer side file");
        const std::string path = files.Write("setup.exe", carrier);
        files.Write("setup.exe$$$", testing::Bytes(100000, 'x'));
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ExpectItems(dialog, {"readme.txt", "setup.ini"});
            CloseWithEscape(dialog);
        });
        ExpectNoBoxes(outcome);
        ok(testing::ReadFile(path + "$$$") == archive, "the side file was not replaced by the archive\n");
    }
    {
        Context context("a hard link in the side file's place");
        const std::string path = files.Write("linked.exe", carrier);
        const std::string victimPath = files.Write("victim.bin", victim);
        ok(CreateHardLinkA((path + "$$$").c_str(), victimPath.c_str(), nullptr) != 0, "CreateHardLink failed: %lu\n",
           GetLastError());
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ExpectRefusedSideFile(dialog);
            CloseWithEscape(dialog);
        });
        ExpectInformationBox(outcome, "Except: Cannot create file \"" + path + "$$$\". The file has 2 links");
        ok(testing::ReadFile(victimPath) == victim, "the linked file was written through\n");
        ok(testing::ReadFile(path) == carrier, "the input changed\n");
    }
}

}  // namespace vexmira::wine_test
