#pragma once
// How a listing is shown: a table for people, one JSON line for programs.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/examine.hpp"

namespace vexmira::cli {

// The system's 8-bit text as UTF-8, reading every byte as the code point of
// the same value (Latin-1).
std::string Latin1ToUtf8(std::string_view text);

// Where the archive ends for the report: just past the last entry whose
// stored data is complete (an entry whose data runs past the end of the file
// is listed, but does not count as complete); whether the walk was cut short;
// and how many bytes of the file follow that end.
struct ArchiveEnd {
    std::int64_t end = 0;
    bool truncated = false;
    std::int64_t trailing = 0;
};
ArchiveEnd ReportedArchiveEnd(const Listing& listing);

// The file, its offset text, the table with a totals row, and the footer on
// `out`; messages, errors and notes on `err`, with `out` flushed first so a
// terminal shows them in order.
void PrintPlain(const Listing& listing, std::ostream& out, std::ostream& err);

// One JSON object on one line, keys in the documented order.
void PrintJson(const Listing& listing, std::ostream& out);

}  // namespace vexmira::cli
