#pragma once
// What --extract writes for each entry, decided here for every front end:
// stored entries as the file itself, every other entry as its stored stream
// byte for byte (nothing is decoded: no decoder here can be checked against
// the format's own encoder, and a wrong one shown as success would be worse
// than none), under safe unique names, never past the first of two entries
// whose stored bytes overlap.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "archive/compress.hpp"
#include "listing/examine.hpp"
#include "listing/safe_names.hpp"

namespace vexmira::listing {

// Each listing's entries go to one folder, with this beside them.
inline constexpr std::string_view kManifestName = "manifest.jsonl";
// What follows FILE's mapped path: FILE.extracted/OFFSET/.
inline constexpr std::string_view kExtractedSuffix = ".extracted";

// The folder of the archive at `offset`: eight or more upper-case hex digits.
std::string ExtractionFolderName(std::int64_t offset);

// What a stored stream's name ends in: ".<method identifier, lower case>.raw"
// (".lh5.raw"), or ".m<NUMBER>.raw" for a method beyond the identifiers.
std::string RawSuffix(std::uint8_t method);

struct EntryExtraction {
    // The file's name in the listing's folder; none when nothing is written.
    std::optional<std::string> Name;
    bool Raw = false;                       // the stored stream, not the file
    std::optional<std::string> WhyRaw;      // with Raw
    std::optional<std::string> NotWritten;  // why nothing is written
    // Where the stored bytes lie in the stream listed, with Name.
    std::int64_t Start = 0;
    std::int64_t Size = 0;
};

// The plans for the entries of one FILE, listing by listing.
class ExtractionPlanner {
public:
    explicit ExtractionPlanner(bool includeSuspect) : include_suspect_(includeSuspect) {}

    // A new listing: a new folder, whose names start afresh.
    void BeginListing();
    // `info` holds offsets in the stream listed (of `streamSize` bytes),
    // which starts at `origin` in FILE. Entries planned to be written count
    // as written: a later one whose bytes overlap theirs is not.
    EntryExtraction Plan(std::string_view name, const archive::TCompressedFileInfo& info,
                         std::optional<std::string_view> suspect, std::int64_t streamSize, std::int64_t origin);
    // The same for an entry as a sink gets it (offsets in FILE) in the
    // listing `head` describes, whose listed bytes are held.
    EntryExtraction PlanListed(const ListingHead& head, std::string_view name, const archive::TCompressedFileInfo& info,
                               std::optional<std::string_view> suspect);

private:
    struct Written {
        std::int64_t End = 0;
        std::int64_t HeaderOffset = 0;
    };
    // The entry already written whose bytes meet [start, end), if any.
    const std::pair<const std::int64_t, Written>* Overlapping(std::int64_t start, std::int64_t end) const;

    bool include_suspect_;
    UniqueNames names_{kManifestName};
    // FILE offset where written bytes start -> where they end, and whose they
    // are; disjoint, one per file written, so no bigger than the output.
    std::map<std::int64_t, Written> written_;
};

}  // namespace vexmira::listing
