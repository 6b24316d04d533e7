// vexmira: the plug-in's listings in a terminal or a script.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/examine.hpp"
#include "cli/report.hpp"

namespace {

// As sysexits.h has it: the command was used incorrectly.
constexpr int kUsageError = 64;

constexpr const char* kDescription =
    "Lists the entries of archives. A FILE whose name ends in \".ARC\" is listed directly; any other "
    "file is scanned for an embedded archive, which is copied to FILE$$$ and listed from there.";

constexpr const char* kFooter =
    "Exit status: 0 when every FILE was listed, 1 when no archive was found in some FILE,\n"
    "2 on any error (open, create, write, header, nothing to list), 64 on bad usage.\n"
    "With --in-place and --all, header offsets and the archive end count from the start of FILE.\n"
    "With --json, each listing is one JSON object on one line (with --all, one per candidate).";

int Run(int argc, char** argv) {
    CLI::App app(kDescription, "vexmira");
    app.footer(kFooter);
    vexmira::cli::Options options;
    bool json = false;
    std::vector<std::string> files;
    app.add_flag("--json", json, "One JSON object per listing instead of a table");
    app.add_flag("--in-place", options.inPlace, "List a located archive inside FILE; write no side file");
    app.add_flag("--all", options.all, "List every candidate position in FILE, each in place");
    app.add_option("FILE", files, "Archive or file carrying one")->required();
    app.set_version_flag("--version", std::string("vexmira ") + VEXMIRA_VERSION);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsageError;
    }

    vexmira::cli::Outcome worst = vexmira::cli::Outcome::Listed;
    bool first = true;
    for (const std::string& file : files) {
        const vexmira::cli::Outcome outcome =
            vexmira::cli::Examine(file, options, [&](const vexmira::cli::Listing& listing) {
                if (json) {
                    vexmira::cli::PrintJson(listing, std::cout);
                    // The one thing the JSON object has no field for.
                    if (listing.note) std::cerr << listing.file << ": " << *listing.note << '\n';
                } else {
                    if (!first) std::cout << '\n';
                    vexmira::cli::PrintPlain(listing, std::cout, std::cerr);
                }
                first = false;
            });
        worst = std::max(worst, outcome);
    }
    std::cout.flush();
    return static_cast<int>(worst);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {  // out of memory, or a stream that failed
        std::cerr << "vexmira: " << error.what() << '\n';
        return static_cast<int>(vexmira::cli::Outcome::Failed);
    }
}
