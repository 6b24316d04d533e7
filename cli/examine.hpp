#pragma once
// What the tool finds for one FILE, decided the way the dialog decides it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/compress.hpp"

namespace vexmira::cli {

// Ordered by severity: a run's exit status is the worst outcome it saw.
enum class Outcome {
    Listed = 0,    // an archive was listed (an empty listing counts)
    NotFound = 1,  // the locator found no archive
    Failed = 2,    // open, create, write or header error, or nothing to list
};

struct Listing {
    std::string file;                    // as given on the command line
    bool located = false;                // went through the locator (the name is not ".ARC")
    std::optional<std::string> listed;   // the path whose entries were read; none when nothing was
    std::int64_t offset = -1;            // the located offset when `located`; -1 = none found
    std::string offsetText;              // what the offset label shows; empty when it was never set
    std::vector<std::string> messages;   // information messages, in the order shown
    std::optional<std::string> error;    // the listing's error message, without the report's full stop
    std::optional<std::string> note;     // the tool's own remark when the dialog would stay silent
    archive::EntryList entries;
    std::optional<archive::WalkSummary> walk;  // set once a walk has run to its end
    Outcome outcome = Outcome::Listed;
};

struct Options {
    bool inPlace = false;  // list a located archive inside the carrier; no side file
    bool all = false;      // every candidate in the file, each listed in place
};

// Examines one FILE and hands over each listing as it is complete: one, or
// with `all` one per candidate (one when there is none). Returns the worst
// outcome among them.
Outcome Examine(const std::string& file, const Options& options, const std::function<void(const Listing&)>& emit);

}  // namespace vexmira::cli
