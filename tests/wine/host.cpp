// The Wine test host: loads the real plug-in as the host application would and
// runs one named case against it.
//   vexmira_wine_host CASE DLL [ARGS...]

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace {

using namespace vexmira::wine_test;

struct Case {
    const char* name;
    void (*run)(const Options&);
};

constexpr Case kCases[] = {
    {"exports", CaseExports},       {"lifetime", CaseLifetime},       {"layout", CaseLayout},
    {"arc_listing", CaseArcListing}, {"carrier", CaseCarrier},        {"not_found", CaseNotFound},
    {"missing_arc", CaseMissingArc}, {"bad_headers", CaseBadHeaders}, {"details", CaseDetails},
    {"drag", CaseDrag},             {"closing", CaseClosing},         {"about", CaseAbout},
    {"two_jobs", CaseTwoJobs},      {"modality", CaseModality},       {"repeat", CaseRepeat},
    {"big_list", CaseBigList},      {"side_file", CaseSideFile},      {"unload_elsewhere", CaseUnloadElsewhere},
    {"demo", Demo},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: %s CASE DLL [ARGS...]\ncases:", argv[0]);
        for (const Case& entry : kCases) std::printf(" %s", entry.name);
        std::printf("\n");
        return 2;
    }
    Options options;
    options.dll = WindowsPath(argv[2]);
    for (int i = 3; i < argc; ++i) options.args.push_back(argv[i]);

    for (const Case& entry : kCases) {
        if (std::strcmp(entry.name, argv[1]) != 0) continue;
        entry.run(options);
        std::printf("%s: %ld tests executed (%ld failures)\n", entry.name, Checks(), Failures());
        return Failures() == 0 ? 0 : 1;
    }
    std::printf("no case named %s\n", argv[1]);
    return 2;
}
