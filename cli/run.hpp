#pragma once
// A run over many files: examined in parallel, printed in input order.

#include <string>

#include "cli/examine.hpp"
#include "cli/sources.hpp"

namespace vexmira::cli {

struct RunOptions {
    bool Json = false;
    unsigned Jobs = 1;          // files examined at once
    bool Progress = false;      // a progress line on standard error (a terminal)
    double ProgressAfter = 1;   // seconds of work before it appears
    Options Examine;
};

// Examines every file the source yields and returns the exit status: the
// worst outcome, or Failed once standard output cannot be written (that is
// reported, and the run stops).
int RunCollection(FileSource& source, const RunOptions& options);

}  // namespace vexmira::cli
