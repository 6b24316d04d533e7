#pragma once
// What the tool finds for one FILE, decided the way the dialog decides it,
// and handed over as it is found: a listing's head, its entries one by one,
// and its end. Nothing here grows with the number of entries.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/compress.hpp"
#include "cli/text.hpp"

namespace vexmira::cli {

// Ordered by severity: a run's exit status is the worst outcome it saw.
enum class Outcome {
    Listed = 0,    // an archive was listed (an empty listing counts)
    NotFound = 1,  // the locator found no archive
    Failed = 2,    // open, create, write or header error, out of memory
};

// A message or error, and where its bytes come from: the file system (paths,
// the system's reasons), read like the listing's path, or an archive's own
// bytes (a header's identifier), read as Latin-1.
struct Text {
    std::string Bytes;
    bool FromArchive = false;
};

// Known before the first entry.
struct ListingHead {
    std::string File;                   // as given on the command line
    // How File, Listed and the file-system texts read: UTF-8 when the path,
    // made absolute as messages show it, is valid UTF-8; else Latin-1.
    Encoding PathEncoding = Encoding::Utf8;
    bool Located = false;               // went through the locator (the name is not ".ARC")
    std::optional<std::string> Listed;  // the path whose entries are read; none when nothing is
    std::int64_t Offset = -1;           // the located offset when Located; -1 = none found
    std::string OffsetText;             // what the offset label shows; empty when it was never set
    std::vector<Text> Messages;         // information messages, in the order shown
};

// Known once the listing is over.
struct ListingEnd {
    std::optional<Text> Error;                 // why the listing failed, without the report's full stop
    std::optional<archive::WalkSummary> Walk;  // set when a walk ran to its end
    // With Walk: where the archive plausibly ends, and how many entries
    // from the first suspect one on look like trailing data.
    std::int64_t PlausibleEnd = 0;
    std::uint64_t TrailingEntries = 0;
    std::optional<std::string> Carved;         // the carved file's path
    // With --all: the entry header offset where this candidate's walk
    // reached a header an earlier candidate's walk had read, and stopped.
    std::optional<std::int64_t> Joins;
    // With Error: the error itself, for callers that hand it on by its class.
    std::exception_ptr Failure;
    Outcome Result = Outcome::Listed;
};

class ListingSink {
public:
    virtual ~ListingSink() = default;
    virtual void Begin(const ListingHead& head) = 0;
    // The name is valid during the call only. `suspect`: why the entry
    // cannot be a real one, if it cannot.
    virtual void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect) = 0;
    virtual void End(const ListingHead& head, const ListingEnd& end) = 0;
};

struct Options {
    bool InPlace = false;  // list a located archive inside the carrier; no side file
    bool All = false;      // every candidate in the file, each listed in place
    // Write each located archive, from its offset to its plausible end, to
    // FILE.OFFSET.ARC (next to FILE or below OutputDir); lists in place.
    bool Carve = false;
    // Side files go below this folder instead of next to their input.
    std::optional<std::string> OutputDir;
    // For tests only: examining this exact path runs out of memory as its
    // walk begins.
    std::optional<std::string> FailAllocationFor;
};

// Examines one FILE: one listing, or with All one per candidate (one when
// there is none). Running out of memory ends that FILE's listing with the
// out-of-memory error. Returns the worst outcome among its listings.
// Whatever the sink raises (other than running out of memory) passes through.
Outcome Examine(const std::string& file, const Options& options, ListingSink& sink);

// Copies [offset, end) of `input` to FILE.OFFSET.ARC (OFFSET as eight or more
// upper-case hex digits), next to FILE or below outputDir; returns its path.
// Raises the file stream's errors.
std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         const std::optional<std::string>& outputDir);

// A listing of a FILE that cannot be examined at all (a folder without
// recursion, a folder that cannot be read): only the error.
Outcome ReportUnexaminable(const std::string& file, const std::string& error, ListingSink& sink);

}  // namespace vexmira::cli
