#pragma once
// A run over many files: examined in parallel, printed in input order.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/sources.hpp"
#include "listing/examine.hpp"
#include "report/extract.hpp"

namespace vexmira::cli {

struct RunOptions {
    bool Json = false;
    bool Csv = false;           // a CSV record per entry
    bool Summary = false;       // a line (or with Json an object) per listing
    bool OnlyFound = false;     // leave out listings that found no archive
    bool HideSuspect = false;   // leave out entries past the plausible end
    bool ShowSuspect = false;   // list them in the views for people too, where they are folded by default
    unsigned Jobs = 1;          // files examined at once
    bool Progress = false;      // a progress line on standard error (a terminal)
    double ProgressAfter = 1;   // seconds of work before it appears
    bool Quiet = false;         // "no archive found" and the account after many files are not said
    // The account of the run on standard error whatever the count of files
    // (and with Json, as a last object on standard output too).
    bool Stats = false;
    listing::Options Examine;
    std::optional<report::ExtractOptions> Extract;  // --extract DIR
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

// What a run over many files did, for the account at its end. Each file
// counts once among Found, NotFound and Failed, by its outcome.
struct RunTally {
    std::uint64_t Files = 0;
    std::uint64_t Found = 0;       // an archive was listed (located, or an .ARC FILE)
    std::uint64_t NotFound = 0;
    std::uint64_t Failed = 0;      // open, header, write errors; names that cannot be examined
    std::uint64_t PassedOver = 0;  // listings (with --all) of headers the locator's rule passes over
    std::uint64_t Skipped = 0;     // files a walk left out for their names, as this tool's outputs
    std::uint64_t Entries = 0;     // entries listed
    std::int64_t Bytes = 0;        // the examined files' sizes
    double Seconds = 0;            // wall time of the run
};

// "3 files: 2 found, 1 not found, 0 failed; 14 entries, 75063 bytes in
// 0.05 s", with what was passed over and skipped when there was any.
std::string AccountText(const RunTally& tally);
// The same as one JSON object of kind "stats", ended by a line break.
std::string AccountJson(const RunTally& tally);

// Examines every file the source yields and returns the exit status (see
// RunStatus), or Failed once standard output cannot be written (that is
// reported, and the run stops).
int RunCollection(FileSource& source, const RunOptions& options);

}  // namespace vexmira::cli
