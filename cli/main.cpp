// vexmira: the plug-in's listings in a terminal or a script.

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/examine.hpp"
#include "cli/output.hpp"
#include "cli/report.hpp"
#include "support/exception.hpp"

namespace {

using vexmira::cli::Outcome;

// As sysexits.h has it: the command was used incorrectly.
constexpr int kUsageError = 64;

constexpr const char* kDescription =
    "Lists the entries of archives. A FILE whose name ends in \".ARC\" is listed directly; any other "
    "file is scanned for an embedded archive, which is copied to FILE$$$ and listed from there.";

constexpr const char* kFooter =
    "Exit status: 0 when every FILE was listed, 1 when no archive was found in some FILE,\n"
    "2 on any error (open, create, write, header, out of memory, or writing the output), 64 on bad usage.\n"
    "With --in-place and --all, header offsets and the archive end count from the start of FILE.\n"
    "With --json, each listing is one JSON object on one line (with --all, one per candidate).\n"
    "\"--\" ends the options: every argument after it is a FILE.";

// Set only by the tests: examining this path runs out of memory.
constexpr const char* kFailAllocationVariable = "VEXMIRA_TEST_FAIL_ALLOCATION";

int Usage(const std::string& message) {
    vexmira::cli::WriteErrorLine("vexmira: " + message);
    vexmira::cli::WriteErrorLine("Run with --help for more information.");
    return kUsageError;
}

int Run(int argc, char** argv) {
    CLI::App app(kDescription, "vexmira");
    app.footer(kFooter);
    vexmira::cli::Options options;
    bool json = false;
    std::vector<std::string> files;
    app.add_flag("--json", json, "One JSON object per listing instead of a table");
    app.add_flag("--in-place", options.InPlace, "List a located archive inside FILE; write no side file");
    app.add_flag("--all", options.All, "List every candidate position in FILE, each in place");
    app.add_option("FILE", files, "Archive or file carrying one");
    app.set_version_flag("--version", std::string("vexmira ") + VEXMIRA_VERSION);

    // Anything before "--" that looks like an option and is not one is named
    // as such, rather than taken for a missing or odd FILE.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() > 1 && arg[0] == '-') {
            const std::string name = arg.substr(0, arg.find('='));
            if (name != "-h" && name != "--help" && app.get_option_no_throw(name) == nullptr) {
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
    if (files.empty()) return Usage("FILE is required");
    if (const char* path = std::getenv(kFailAllocationVariable)) options.FailAllocationFor = path;

    vexmira::cli::LineOutput out(STDOUT_FILENO);
    vexmira::cli::PlainReport plain(out);
    vexmira::cli::JsonReport jsonReport(out);
    vexmira::cli::ListingSink& sink = json ? static_cast<vexmira::cli::ListingSink&>(jsonReport) : plain;
    Outcome worst = Outcome::Listed;
    try {
        for (const std::string& file : files) worst = std::max(worst, vexmira::cli::Examine(file, options, sink));
        out.Flush();
    } catch (const vexmira::cli::OutputError& error) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: cannot write to standard output: ") + error.what());
        return static_cast<int>(Outcome::Failed);
    }
    return static_cast<int>(worst);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe ends the process quietly, as it does other tools, even
    // when the parent left SIGPIPE ignored.
    std::signal(SIGPIPE, SIG_DFL);
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + std::string(vexmira::support::kOutOfMemoryMessage));
    } catch (const std::exception& error) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + error.what());
    }
    return static_cast<int>(Outcome::Failed);
}
