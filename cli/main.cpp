// vexmira: the plug-in's listings in a terminal or a script.

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/examine.hpp"
#include "cli/output.hpp"
#include "cli/platform.hpp"
#include "cli/report.hpp"
#include "cli/run.hpp"
#include "cli/sources.hpp"
#include "cli/text.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace {

using vexmira::cli::Outcome;

// As sysexits.h has it: the command was used incorrectly.
constexpr int kUsageError = 64;

constexpr const char* kDescription =
    "Lists the entries of archives. A FILE whose name ends in \".ARC\" is listed directly; any other "
    "file is scanned for an embedded archive, which is copied to FILE$$$ and listed from there. "
    "Files are examined in parallel and printed whole, in the order given.";

constexpr const char* kFooter =
    "Exit status: 0 when every FILE was listed, 1 when no archive was found in some FILE,\n"
    "2 on any error (open, create, write, header, out of memory, or writing the output), 64 on bad usage.\n"
    "With --in-place and --all, header offsets and the archive end count from the start of FILE.\n"
    "With --json, each listing is one JSON object on one line (with --all, one per candidate).\n"
    "\"--\" ends the options: every argument after it is a FILE.";

// Set only by the tests: examining this path runs out of memory.
constexpr const char* kFailAllocationVariable = "VEXMIRA_TEST_FAIL_ALLOCATION";
// Set only by the tests: seconds of work before the progress line appears.
constexpr const char* kProgressAfterVariable = "VEXMIRA_TEST_PROGRESS_AFTER";

int Usage(const std::string& message) {
    vexmira::cli::WriteErrorLine("vexmira: " + message);
    vexmira::cli::WriteErrorLine("Run with --help for more information.");
    return kUsageError;
}

int Run(int argc, char** argv) {
    CLI::App app(kDescription, "vexmira");
    // Options start with "-" only: on Windows "/tmp/x.exe" and "\\x.exe" are files.
    app.allow_windows_style_options(false);
    app.footer(kFooter);
    vexmira::cli::RunOptions run;
    vexmira::cli::SourceOptions sources;
    std::vector<std::string> files;
    std::string filesFrom;
    bool nul = false;
    bool quiet = false;
    std::string outputDir;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    app.add_flag("--json", run.Json, "One JSON object per listing instead of a table");
    app.add_flag("--in-place", run.Examine.InPlace, "List a located archive inside FILE; write no side file");
    app.add_flag("--all", run.Examine.All, "List every candidate position in FILE, each in place");
    app.add_flag("--carve", run.Examine.Carve,
                 "Write each located archive, from its offset to where it plausibly ends, to FILE.OFFSET.ARC "
                 "(next to FILE, or below --output-dir); lists in place and writes no side file");
    app.add_flag("-r,--recursive", sources.Recursive,
                 "Examine the files below each folder FILE, in byte order of their names (side files \"*$$$\", carved "
                 "files \"*.OFFSET.ARC\" and the output folder are skipped)");
    app.add_flag("--follow-links", sources.FollowLinks, "Follow symbolic links met while walking folders");
    app.add_option("--files-from", filesFrom, "Read FILE names from this file (\"-\": standard input), one a line")
        ->type_name("LIST");
    app.add_flag("-0,--null", nul, "Names read with --files-from end in NUL instead of a line break");
    app.add_option("-j,--jobs", jobs, "Files examined at once (default: the number of processors)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    app.add_option("--output-dir", outputDir,
                   "Write side files below this folder, under each FILE's path as given, instead of next to FILE")
        ->type_name("DIR");
    app.add_flag("-q,--quiet", quiet, "No progress line on a terminal");
    app.add_option("FILE", files, "Archive, file carrying one, or (with -r) folder")->type_name("");
    app.set_version_flag("--version", std::string("vexmira ") + VEXMIRA_VERSION);

    // Anything before "--" that looks like an option and is not one is named
    // as such, rather than taken for a missing or odd FILE.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() > 1 && arg[0] == '-') {
            const std::string name = arg.substr(0, arg.find('='));
            const bool shortCluster = name.size() > 2 && name[1] != '-';  // -rq, -j2
            const std::string option = shortCluster ? name.substr(0, 2) : name;
            if (option != "-h" && option != "--help" && app.get_option_no_throw(option) == nullptr) {
                return Usage("unknown option: " + arg);
            }
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Usage(e.what());
    }
    if (files.empty() && filesFrom.empty()) return Usage("FILE is required");
    if (const char* path = std::getenv(kFailAllocationVariable)) run.Examine.FailAllocationFor = path;
    if (const char* seconds = std::getenv(kProgressAfterVariable)) run.ProgressAfter = std::atof(seconds);
    if (!outputDir.empty()) {
        const auto status = vexmira::cli::platform::StatusOf(outputDir, true);
        if (!status || status->Kind != vexmira::cli::platform::FileKind::Directory) {
            return Usage("--output-dir " + outputDir + ": not a folder");
        }
        run.Examine.OutputDir = outputDir;
        sources.OutputDir = outputDir;
    }
    run.Jobs = jobs;
    run.Progress = !quiet;

    vexmira::cli::FileSource source(sources);
    for (std::string& file : files) source.AddName(std::move(file));
    if (!filesFrom.empty()) {
        try {
            vexmira::cli::platform::ReadListFile(filesFrom, [&](std::string_view text) { source.AddListText(text, nul); });
            source.EndList(nul);
        } catch (const vexmira::cli::platform::SystemError& error) {
            const std::string list = filesFrom == "-" ? "standard input" : filesFrom;
            vexmira::cli::WriteErrorLine("vexmira: --files-from " +
                                         vexmira::cli::TerminalText(list, vexmira::cli::PathEncoding(list)) +
                                         ": cannot be read: " + error.what());
            return static_cast<int>(Outcome::Failed);
        }
    }
    return vexmira::cli::RunCollection(source, run);
}

int Main(int argc, char** argv) {
    const vexmira::cli::platform::Process process;
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + std::string(vexmira::support::kOutOfMemoryMessage));
    } catch (const std::exception& error) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + error.what());
    }
    return static_cast<int>(Outcome::Failed);
}

}  // namespace

#ifdef _WIN32
// The wide command line, so that any path can be named; the parser and the
// rest of the tool take UTF-8.
int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> arguments;
    std::vector<char*> argv;
    try {
        for (int i = 0; i < argc; ++i) arguments.push_back(vexmira::support::Utf8FromWide(wideArgv[i]));
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + std::string(vexmira::support::kOutOfMemoryMessage));
        return static_cast<int>(Outcome::Failed);
    }
    return Main(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
