#pragma once
// A run over many files: examined in parallel, printed in input order.

#include <atomic>
#include <optional>
#include <string>

#include "cli/extract.hpp"
#include "cli/sources.hpp"
#include "listing/examine.hpp"

namespace vexmira::cli {

struct RunOptions {
    bool Json = false;
    bool Csv = false;           // a CSV record per entry
    bool Summary = false;       // a line (or with Json an object) per listing
    bool OnlyFound = false;     // leave out listings that found no archive
    bool HideSuspect = false;   // leave out entries past the plausible end
    unsigned Jobs = 1;          // files examined at once
    bool Progress = false;      // a progress line on standard error (a terminal)
    double ProgressAfter = 1;   // seconds of work before it appears
    bool Quiet = false;         // "no archive found" is not said
    listing::Options Examine;
    std::optional<ExtractOptions> Extract;  // --extract DIR
};

// The exit status of a run over many files, as grep has it: Failed when
// anything failed, else Listed when anything was listed, else NotFound.
class RunStatus {
public:
    void Add(listing::Outcome outcome) noexcept;
    listing::Outcome Result() const noexcept;

private:
    std::atomic<bool> listed_ = false;
    std::atomic<bool> failed_ = false;
};

// Examines every file the source yields and returns the exit status (see
// RunStatus), or Failed once standard output cannot be written (that is
// reported, and the run stops).
int RunCollection(FileSource& source, const RunOptions& options);

}  // namespace vexmira::cli
