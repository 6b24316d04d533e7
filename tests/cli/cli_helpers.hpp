#pragma once
// Runs the built vexmira in a scratch directory and captures what it printed.

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/archive_builder.hpp"

namespace vexmira::testing {

struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> OutLines() const { return Lines(out); }
    std::vector<std::string> ErrLines() const { return Lines(err); }
    // Every stdout line parsed, keys kept in the order printed.
    std::vector<nlohmann::ordered_json> Objects() const {
        std::vector<nlohmann::ordered_json> objects;
        for (const std::string& line : OutLines()) objects.push_back(nlohmann::ordered_json::parse(line));
        return objects;
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

inline std::ostream& operator<<(std::ostream& os, const ProcessResult& run) {
    return os << "status " << run.status << "\n--- stdout\n" << run.out << "--- stderr\n" << run.err;
}

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The command line that runs vexmira with `args`.
inline std::string VexmiraCommand(const std::vector<std::string>& args) {
    std::string command = ShellQuote(VEXMIRA_EXE);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return command;
}

// Runs a shell command from `dir` (where `$VEXMIRA` names the tool) and
// captures its standard output and error unless the command redirects them.
inline ProcessResult RunShell(const TempDir& dir, const std::string& script) {
    const std::string out = (dir / ".stdout").string();
    const std::string err = (dir / ".stderr").string();
    const std::string command = "cd " + ShellQuote(dir.Path().string()) + " && VEXMIRA=" + ShellQuote(VEXMIRA_EXE) +
                                " && export VEXMIRA && { " + script + "\n} > " + ShellQuote(out) + " 2> " +
                                ShellQuote(err) + " < /dev/null";
    ProcessResult run;
    const int raw = std::system(("bash -c " + ShellQuote(command)).c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const Bytes outBytes = ReadFile(out);
    const Bytes errBytes = ReadFile(err);
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

// Runs vexmira with `args` from `dir`, so relative names print as given.
inline ProcessResult RunVexmira(const TempDir& dir, const std::vector<std::string>& args) {
    return RunShell(dir, VexmiraCommand(args));
}

}  // namespace vexmira::testing
