// The side file under the real Win32 file layer: an earlier side file is
// replaced, and a name that is another file's too (a hard link) is refused,
// leaving that file as it was. Wine follows Unix symbolic links even when
// asked for the reparse point, so symbolic links are tested on Linux only.

#include <windows.h>

#include <string>

#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

void CaseSideFile(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const testing::Bytes archive = ArchiveOf({{"readme.txt", 2000, 900, 4}, {"setup.ini", 300, 200, 1}});
    const testing::Bytes carrier = testing::Carrier(5000, archive);
    const testing::Bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};

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
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) { CloseWithEscape(dialog); });
        ExpectInformationBox(outcome, "Except: Cannot create file \"" + path + "$$$\". The file has 2 links");
        ok(testing::ReadFile(victimPath) == victim, "the linked file was written through\n");
        ok(testing::ReadFile(path) == carrier, "the input changed\n");
    }
}

}  // namespace vexmira::wine_test
