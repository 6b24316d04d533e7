#pragma once
// What every report says on standard error about a listing that failed or
// found nothing, in the tool's words.

#include <cstdint>
#include <string>

#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "report/output.hpp"

namespace vexmira::report {

// What standard error says about a listing that failed, in the tool's words
// ("vexmira: FILE: message"), FILE and the message shown as on a terminal.
std::string ErrorLineText(const listing::ListingHead& head, const listing::Text& error);

// Says on standard error that a listing failed, or (unless `quiet`) that it
// found no archive.
void ReportTrouble(LineOutput& out, const listing::ListingHead& head, const listing::ListingEnd& end, bool quiet);

// "every S bytes from A to B": where the rest of a run that starts at `first` lies.
std::string RunSpan(std::int64_t first, const listing::ShiftedCopies& more);

using listing::TextEncoding;

}  // namespace vexmira::report
