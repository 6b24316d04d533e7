// vexmira: the plug-in's listings in a terminal or a script.

#include <algorithm>
#include <charconv>
#include <optional>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/output.hpp"
#include "cli/platform.hpp"
#include "cli/run.hpp"
#include "cli/sources.hpp"
#include "listing/examine.hpp"
#include "outputs/places.hpp"
#include "report/json.hpp"
#include "report/plain.hpp"
#include "report/text.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace {

using vexmira::listing::Outcome;

// As sysexits.h has it: the command was used incorrectly.
constexpr int kUsageError = 64;

constexpr const char* kDescription =
    "Lists the entries of archives. Listing only reads: only --side-file and\n"
    "--carve write files.\n"
    "\n"
    "A FILE whose name ends in \".ARC\" is listed directly; any other file is\n"
    "scanned for an embedded archive, which is listed where it is. Files are\n"
    "examined in parallel and printed whole, in the order given.\n";

// Help lines stay within 80 columns: option texts start at this column.
constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kOptionColumn = 30;

// Breaks a text at spaces into lines of at most `width` characters.
std::string Wrapped(const std::string& text, std::size_t width) {
    std::string out;
    std::size_t lineLength = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::size_t word = end - start;
        if (lineLength > 0 && lineLength + 1 + word > width) {
            out += '\n';
            lineLength = 0;
        } else if (lineLength > 0) {
            out += ' ';
            ++lineLength;
        }
        out.append(text, start, word);
        lineLength += word;
        start = end + 1;
    }
    return out;
}

constexpr const char* kFooter =
    "Exit status: 0 when an archive was listed and nothing failed, 1 when no archive\n"
    "was found in any FILE, 2 when anything failed (open, create, write, header, out\n"
    "of memory, or writing the output), 64 on bad usage.\n"
    "Messages on standard error read \"vexmira: FILE: message\".\n"
    "The table cuts names to 40 characters with \"\u2026\" and shows a method byte\n"
    "the identifier table does not know as its number; JSON and CSV keep both whole.\n"
    "With --json, each listing is one JSON object on one line (with --all, one per\n"
    "candidate); every offset in it counts from the start of FILE.\n"
    "FILE \"-\" is standard input, named \"-\" in messages and JSON; a pipe is first\n"
    "copied to an unlinked file in $TMPDIR. With --side-file or --carve it needs\n"
    "--output-dir, where its outputs are named \"stdin$$$\" and \"stdin.OFFSET.ARC\".\n"
    "\"--\" ends the options: every argument after it is a FILE.";

// Set only by the tests: examining this path runs out of memory.
constexpr const char* kFailAllocationVariable = "VEXMIRA_TEST_FAIL_ALLOCATION";
// Set only by the tests: seconds of work before the progress line appears.
constexpr const char* kProgressAfterVariable = "VEXMIRA_TEST_PROGRESS_AFTER";

// A message as a terminal shows it: what the user typed, a path or a system
// message quoted in it may hold any byte.
std::string Shown(const std::string& text) { return vexmira::report::TerminalText(text, vexmira::report::PathEncoding(text)); }

int Usage(const std::string& message) {
    vexmira::cli::WriteErrorLine("vexmira: " + Shown(message));
    vexmira::cli::WriteErrorLine("Run with --help for more information.");
    return kUsageError;
}

// "12345" or "0x3039"; none for anything else, or past 63 bits.
std::optional<std::int64_t> ParseOffset(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (error != std::errc() || end != last || first == last || *first == '-' || *first == '+' || value < 0) {
        return std::nullopt;
    }
    return value;
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
    bool inPlace = false;
    std::string offset;
    app.add_flag("--json", run.Json, "One JSON object per listing instead of a table");
    app.add_flag("--csv", run.Csv, "One CSV record per entry (RFC 4180), fields as in JSON, after a header record");
    app.add_flag("--summary", run.Summary,
                 "One line per listing: offset, entries, suspect entries, plausible end, FILE and any error (with "
                 "--json, one object)");
    app.add_flag("--only-found", run.OnlyFound, "Leave out files in which no archive was found");
    app.add_flag("--hide-suspect", run.HideSuspect,
                 "Leave out the entries from the first suspect one on; totals count up to the plausible end (the "
                 "default for the table and the summary, which say how many were left out)");
    app.add_flag("--show-suspect", run.ShowSuspect,
                 "List the entries past the plausible end in the table and the summary too, marked suspect");
    app.add_flag("--side-file", run.Examine.SideFile,
                 "Copy a located archive to FILE$$$ (below --output-dir when given) and list that, as the plug-in "
                 "does");
    app.add_flag("--in-place", inPlace, "Accepted for older scripts: listing in place is the default");
    const CLI::Option* offsetOption = app.add_option("--offset", offset, "List the archive at offset N of FILE (decimal or 0x hex), without the locator")
        ->type_name("N");
    app.add_flag("--all", run.Examine.All,
                 "List every candidate position in FILE, and every header the locator passes over (marked so)");
    app.add_flag("--carve", run.Examine.Carve,
                 "Write each located archive, from its offset to where it plausibly ends, to FILE.OFFSET.ARC "
                 "(next to FILE, or below --output-dir); lists in place and writes no side file");
    std::string carveEnd = "plausible";
    app.add_option("--carve-end", carveEnd,
                   "Where --carve stops: \"plausible\" (default), the end of the last entry before the first suspect "
                   "one, or \"walk\", the end of the last whole entry")
        ->check(CLI::IsMember({"plausible", "walk"}))
        ->type_name("END");
    app.add_flag("--hash", run.Examine.Hashes,
                 "Read each entry's stored bytes for their SHA-256 and entropy (bits per byte), and FILE's for "
                 "its SHA-256 (without it only headers are read)");
    std::string extractDir;
    app.add_option("--extract", extractDir,
                   "Write each listed archive's entries to DIR/FILE.extracted/OFFSET/ (FILE's path as given): stored "
                   "entries as themselves, others as their stored stream NAME.METHOD.raw, none decoded; with "
                   "manifest.jsonl")
        ->type_name("DIR");
    bool nested = false;
    app.add_flag("--nested", nested,
                 "With --extract, an archive that a written stored entry holds is extracted below it, NAME.extracted/"
                 "OFFSET/, level by level");
    int nestedDepth = vexmira::report::kDefaultNestedDepth;
    const CLI::Option* depthOption =
        app.add_option("--nested-depth", nestedDepth, "How many levels --nested goes down (default 4)")
            ->check(CLI::Range(1, vexmira::report::kDeepestNesting))
            ->type_name("N");
    bool includeSuspect = false;
    app.add_flag("--include-suspect", includeSuspect, "Let --extract write suspect entries too");
    app.add_flag("--force", run.Examine.Force,
                 "Let --carve and --extract replace files an earlier run wrote");
    app.add_flag("-r,--recursive", sources.Recursive,
                 "Examine the files below each folder FILE, in byte order of their names (side files \"*$$$\", carved "
                 "files \"*.OFFSET.ARC\" and the output folder are skipped, and the count said)");
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
    app.add_flag("-q,--quiet", quiet,
                 "No progress line on a terminal, no \"no archive found\", no note of headers passed over and no "
                 "account at the end of a run over many files");
    app.add_flag("--stats", run.Stats,
                 "The account of the run (files found, not found and failed, entries, bytes, seconds) on standard "
                 "error whatever the number of files; with --json as a last object of kind \"stats\" instead");
    app.add_option("FILE", files, "Archive, file carrying one, or (with -r) folder")->type_name("");
    app.set_version_flag("-V,--version", std::string("vexmira ") + VEXMIRA_VERSION);
    app.get_formatter()->column_width(kOptionColumn);
    for (CLI::Option* option : app.get_options()) {
        option->description(Wrapped(option->get_description(), kHelpWidth - kOptionColumn));
    }

    // Anything before "--" that looks like an option and is not one is named
    // as such, rather than taken for a missing or odd FILE.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() > 1 && arg[0] == '-') {
            const std::string name = arg.substr(0, arg.find('='));
            const bool shortCluster = name.size() > 2 && name[1] != '-';  // -rq, -j2
            const std::string option = shortCluster ? name.substr(0, 2) : name;
            if (option != "-h" && option != "--help" && option != "-V" && option != "--version" &&
                app.get_option_no_throw(option) == nullptr) {
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
    run.Examine.CarveToWalkEnd = carveEnd == "walk";
    if (run.Csv && (run.Json || run.Summary)) return Usage("--csv is an output form of its own; not with --json or --summary");
    if (run.HideSuspect && run.ShowSuspect) return Usage("--hide-suspect and --show-suspect contradict each other");
    if (offsetOption->count() > 0) {
        run.Examine.Offset = ParseOffset(offset);
        if (!run.Examine.Offset) return Usage("--offset " + offset + ": not a decimal or 0x hex offset");
        if (run.Examine.All) return Usage("--offset and --all choose what to list in two ways; give one");
    }
    if (run.Examine.SideFile && (run.Examine.All || run.Examine.Carve || run.Examine.Offset)) {
        return Usage("--side-file lists the located archive; --all, --carve and --offset list in place");
    }
    if (includeSuspect && extractDir.empty()) return Usage("--include-suspect is for --extract");
    if (nested && extractDir.empty()) return Usage("--nested is for --extract");
    if (depthOption->count() > 0 && !nested) return Usage("--nested-depth is for --nested");
    if (!extractDir.empty()) {
        try {
            vexmira::outputs::MakeOutputFolder(extractDir);
        } catch (const vexmira::support::Exception& error) {
            vexmira::cli::WriteErrorLine("vexmira: " + Shown(extractDir + ": cannot create the extraction folder: " + error.Message()));
            return static_cast<int>(Outcome::Failed);
        }
        run.Extract = vexmira::report::ExtractOptions{extractDir, includeSuspect, run.Examine.Force, nested ? nestedDepth : 0};
    }
    if (const char* path = std::getenv(kFailAllocationVariable)) run.Examine.FailAllocationFor = path;
    if (const char* seconds = std::getenv(kProgressAfterVariable)) run.ProgressAfter = std::atof(seconds);
    if (!outputDir.empty()) {
        if (!vexmira::cli::platform::StatusOf(outputDir, true)) {
            try {
                vexmira::outputs::MakeOutputFolder(outputDir);
            } catch (const vexmira::support::Exception& error) {
                vexmira::cli::WriteErrorLine("vexmira: " + Shown(outputDir + ": cannot create the output folder: " + error.Message()));
                return static_cast<int>(Outcome::Failed);
            }
        }
        const auto status = vexmira::cli::platform::StatusOf(outputDir, true);
        if (!status || status->Kind != vexmira::cli::platform::FileKind::Directory) {
            return Usage("--output-dir " + outputDir + ": not a folder");
        }
        run.Examine.OutputDir = outputDir;
        sources.OutputDir = outputDir;
    }
    const auto standardInputs = std::count(files.begin(), files.end(), vexmira::support::kStandardInputName);
    if (standardInputs > 1) return Usage("\"-\" (standard input) can be read only once");
    if (standardInputs > 0) {
        if (filesFrom == "-") return Usage("--files-from - reads standard input; a FILE \"-\" cannot read it too");
        if ((run.Examine.SideFile || run.Examine.Carve) && outputDir.empty()) {
            return Usage("standard input has no name to write --side-file or --carve output next to; give --output-dir");
        }
        try {
            vexmira::cli::platform::OpenStandardInput();
        } catch (const vexmira::support::Exception& error) {
            vexmira::cli::WriteErrorLine("vexmira: -: " + Shown(error.Message()));
            return static_cast<int>(Outcome::Failed);
        }
    }
    run.Jobs = jobs;
    run.Progress = !quiet;
    run.Quiet = quiet;

    vexmira::cli::FileSource source(sources);
    for (std::string& file : files) source.AddName(std::move(file));
    if (!filesFrom.empty()) {
        try {
            vexmira::cli::platform::ReadListFile(filesFrom, [&](std::string_view text) { source.AddListText(text, nul); });
            source.EndList(nul);
        } catch (const vexmira::cli::platform::SystemError& error) {
            const std::string list = filesFrom == "-" ? "standard input" : filesFrom;
            vexmira::cli::WriteErrorLine("vexmira: --files-from " + Shown(list + ": cannot be read: " + error.what()));
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
        vexmira::cli::WriteErrorLine("vexmira: " + Shown(error.what()));
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
        // No shell expands wildcards here: the tool does, in what is not an option.
        bool optionsEnded = false;
        for (int i = 0; i < argc; ++i) {
            std::string argument = vexmira::support::Utf8FromWide(wideArgv[i]);
            if (i == 0 || (!optionsEnded && (argument.starts_with('-') || argument.empty()))) {
                optionsEnded = optionsEnded || argument == "--";
                arguments.push_back(std::move(argument));
                continue;
            }
            for (std::string& name : vexmira::cli::platform::ExpandArgument(argument)) arguments.push_back(std::move(name));
        }
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        vexmira::cli::WriteErrorLine(std::string("vexmira: ") + std::string(vexmira::support::kOutOfMemoryMessage));
        return static_cast<int>(Outcome::Failed);
    }
    return Main(static_cast<int>(arguments.size()), argv.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
