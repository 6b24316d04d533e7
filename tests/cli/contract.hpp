#pragma once
// What the tool prints, for its end-to-end tests on Linux and under Wine
// alike: one contract on both platforms.

#include <string>
#include <string_view>
#include <vector>

#include "tests/archive_builder.hpp"

namespace vexmira::testing {

// Three entries: a plain one, an empty locked one, one stored larger than it is.
inline ArchiveBuilder SmallArchive() {
    ArchiveBuilder builder;
    builder.Add("README.TXT", 5120, 2210, 4)
        .Add("EMPTY.LOG", 0, 0, 0, true)
        .Add(EntrySpec{.name = "DATA.RLE", .full_size = 1000, .compressed_size = 1200, .method = 1,
                       .long2 = 0xFFFFFFFF, .word6 = 0xABCD, .long17 = 17});
    return builder;
}

// The plain listing of SmallArchive() saved as "a.ARC".
inline std::vector<std::string> SmallArchiveListing() {
    return {
        "File: a.ARC",
        "Listed: a.ARC",
        "Name                 Full size  Stored size  % compressed      Size  Method  Header offset",
        "README.TXT                5120         2210  57%               5 Kb  LZH5               21",
        "EMPTY.LOG                    0            0  (empty) (locked)  0 Kb  None             2266",
        "DATA.RLE                  1000         1200  -20%              1 Kb  RLE              2300",
        "3 entries, 1 locked       6120         3410  45%",
        "Archive end: 3533, complete, 0 trailing bytes",
    };
}

// Its first entry in JSON, keys in the order printed.
constexpr std::string_view kSmallArchiveFirstEntry =
    R"({"name":"README.TXT","full_size":5120,"compressed_size":2210,"method":4,"method_id":"LH5","method_name":"LZH5",)"
    R"("locked":false,"header_offset":21,"header_size":25,"data_offset":56,"long2":0,"word6":0,"long17":0,)"
    R"("percentage":"57%","percent_compressed":57,"size":"5 Kb",)"
    R"("suspect":null})";

// The keys of a listing and of an entry. Key order is not part of the
// contract: keys are compared sorted.
inline const std::vector<std::string> kObjectKeys = {
    "archive_end",       "archive_header_size", "carved",         "compress_id",         "entries",
    "error",             "file",                "flags",          "listed",              "located",
    "long13",            "messages",            "offset",         "passed_over",         "passed_over_count",
    "path_encoding",     "plausible_end",       "replaced_candidates", "schema_version", "size_value",
    "trailing_bytes",    "truncated"};
inline const std::vector<std::string> kEntryKeys = {
    "compressed_size", "data_offset", "full_size", "header_offset", "header_size", "locked",
    "long17",          "long2",       "method",    "method_id",     "method_name", "name",
    "percent_compressed", "percentage", "size",    "suspect",       "word6"};

}  // namespace vexmira::testing
