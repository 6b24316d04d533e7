#pragma once
// A listing's fields, in one table: every sink that writes a listing head or
// an entry field by field (JSON, CSV, the Python objects, the page) iterates
// these rows in this order, so a field added here appears in all of them, and
// a row's value is decided here once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "archive/compress.hpp"
#include "archive/entry_text.hpp"
#include "listing/examine.hpp"

namespace vexmira::listing {

// Where the archive ends for the report: just past the last entry whose
// stored data is complete (an entry whose data runs past the end of the file
// is listed, but does not count as complete); whether the walk was cut short;
// and how many bytes of the file follow that end.
struct ArchiveEnd {
    std::int64_t End = 0;
    bool Truncated = false;
    std::int64_t Trailing = 0;
};
ArchiveEnd ReportedArchiveEnd(const archive::WalkSummary& walk);

// Sums of crafted sizes can leave 64 bits; totals stop at the limits instead.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) noexcept;
std::int64_t SaturatingTimes(std::int64_t value, std::uint64_t count) noexcept;

// Where an entry's stored bytes start: after its header and its name.
std::int64_t EntryDataOffset(const archive::TCompressedFileInfo& info, std::string_view name) noexcept;

// A field's text: bytes from a file or the file system, read as `From` says;
// without From, the tool's own words (ASCII with nothing to escape or guard),
// written as they are.
struct FieldText {
    std::string_view Bytes;
    std::optional<Encoding> From;
};

// A number with two decimal places, held as hundredths: JSON's and CSV's
// number 7.99, Python's float.
struct Hundredths {
    std::int64_t Value = 0;
};

// A field's value; monostate is JSON's null, an empty CSV cell, Python's None.
using FieldValue = std::variant<std::monostate, bool, std::int64_t, FieldText, Hundredths>;

enum class HeadField { File, PathEncoding, Listed, Offset, Located, PassedOver, InputSha256 };
enum class EntryField {
    Name,
    FullSize,
    CompressedSize,
    Method,
    MethodName,
    Locked,
    HeaderOffset,
    HeaderSize,
    DataOffset,
    Long2,
    Word6,
    Long17,
    Percentage,
    PercentCompressed,
    Size,
    Suspect,
    Sha256,
    Entropy,
    DataError,
};

// One row: the field, what it is, its key in JSON and in the Python objects,
// its CSV column (empty: not in CSV), and whether it is there only when the
// listing reads stored data (--hash).
template <class Id>
struct FieldRow {
    Id Field;
    std::string_view Meaning;
    std::string_view JsonKey;
    std::string_view CsvColumn;
    std::string_view PythonKey;
    bool WithHashes = false;
};

inline constexpr std::array<FieldRow<HeadField>, 7> kHeadFields = {{
    {HeadField::File, "the FILE as given", "file", "file", "file"},
    {HeadField::PathEncoding, "how the path's bytes are read", "path_encoding", "path_encoding", "path_encoding"},
    {HeadField::Listed, "the path whose entries are read", "listed", "listed", "listed"},
    {HeadField::Offset, "where the archive starts in FILE", "offset", "offset", "offset"},
    {HeadField::Located, "whether the locator chose the offset", "located", "located", "located"},
    {HeadField::PassedOver, "why the locator passes the header over", "passed_over", "passed_over", "passed_over"},
    {HeadField::InputSha256, "the SHA-256 of FILE's bytes", "input_sha256", "input_sha256", "input_sha256", true},
}};

inline constexpr std::array<FieldRow<EntryField>, 19> kEntryFields = {{
    {EntryField::Name, "the entry's name, 8-bit", "name", "name", "name"},
    {EntryField::FullSize, "the size once expanded", "full_size", "full_size", "full_size"},
    {EntryField::CompressedSize, "the size stored", "compressed_size", "compressed_size", "compressed_size"},
    {EntryField::Method, "the method byte", "method", "method", "method"},
    {EntryField::MethodName, "the method's name", "method_name", "method_name", "method_name"},
    {EntryField::Locked, "whether the entry is locked", "locked", "locked", "locked"},
    {EntryField::HeaderOffset, "where the entry header starts in FILE", "header_offset", "header_offset", "header_offset"},
    {EntryField::HeaderSize, "the entry header's size", "header_size", "header_size", "header_size"},
    {EntryField::DataOffset, "where the stored bytes start in FILE", "data_offset", "data_offset", "data_offset"},
    {EntryField::Long2, "the header's 32-bit field at byte 2", "long2", "long2", "long2"},
    {EntryField::Word6, "the header's 16-bit field at byte 6", "word6", "word6", "word6"},
    {EntryField::Long17, "the header's 32-bit field at byte 17", "long17", "long17", "long17"},
    {EntryField::Percentage, "the dialog's percentage text", "percentage", "percentage", "percentage"},
    {EntryField::PercentCompressed, "the percentage's number", "percent_compressed", "percent_compressed",
     "percent_compressed"},
    {EntryField::Size, "the dialog's size text", "size", "size", "size"},
    {EntryField::Suspect, "why the entry cannot be a real one", "suspect", "suspect", "suspect"},
    {EntryField::Sha256, "the SHA-256 of the stored bytes", "sha256", "sha256", "sha256", true},
    {EntryField::Entropy, "the stored bytes' entropy, bits per byte", "entropy", "entropy", "entropy", true},
    {EntryField::DataError, "why the stored bytes were not read", "data_error", "data_error", "data_error", true},
}};

// What a head field holds for this listing.
inline FieldValue HeadFieldValue(HeadField field, const ListingHead& head) noexcept {
    switch (field) {
        case HeadField::File:
            return FieldText{head.File, head.PathEncoding};
        case HeadField::PathEncoding:
            return FieldText{EncodingName(head.PathEncoding), std::nullopt};
        case HeadField::Listed:
            if (!head.Listed) return std::monostate{};
            return FieldText{*head.Listed, head.PathEncoding};
        case HeadField::Offset:
            if (head.Offset < 0) return std::monostate{};
            return head.Offset;
        case HeadField::Located:
            // Whether the locator chose this offset; null where it was not asked.
            if (!head.Located) return std::monostate{};
            return head.Offset >= 0 && !head.PassedOver;
        case HeadField::PassedOver:
            if (!head.PassedOver) return std::monostate{};
            return FieldText{*head.PassedOver, Encoding::Latin1};
        case HeadField::InputSha256:
            if (!head.InputSha256) return std::monostate{};
            return FieldText{*head.InputSha256, std::nullopt};
    }
    return std::monostate{};
}

// One entry as a sink is handed it; Data with --hash.
struct EntryView {
    std::string_view Name;
    const archive::TCompressedFileInfo& Info;
    std::optional<std::string_view> Suspect;
    const StoredData* Data = nullptr;
};

// What an entry field holds. A text the listing composes (the percentage,
// the size) is written into `scratch`, which the value views: use it before
// asking for the next one.
inline FieldValue EntryFieldValue(EntryField field, const EntryView& entry, std::string& scratch) {
    const archive::TCompressedFileInfo& info = entry.Info;
    switch (field) {
        case EntryField::Name:
            return FieldText{entry.Name, Encoding::Latin1};
        case EntryField::FullSize:
            return info.FullSize;
        case EntryField::CompressedSize:
            return info.CompressedSize;
        case EntryField::Method:
            return std::int64_t{info.Method};
        case EntryField::MethodName:
            return FieldText{archive::MethodName(info.Method), std::nullopt};
        case EntryField::Locked:
            return info.Locked;
        case EntryField::HeaderOffset:
            return info.HeaderOffset;
        case EntryField::HeaderSize:
            return std::int64_t{info.HeaderSize};
        case EntryField::DataOffset:
            return EntryDataOffset(info, entry.Name);
        case EntryField::Long2:
            return std::int64_t{info.Long2};
        case EntryField::Word6:
            return std::int64_t{info.Word6};
        case EntryField::Long17:
            return std::int64_t{info.Long17};
        case EntryField::Percentage:
            scratch = archive::PercentageText(info);
            return FieldText{scratch, std::nullopt};
        case EntryField::PercentCompressed:
            if (const std::optional<std::int32_t> percent = archive::PercentCompressed(info)) return std::int64_t{*percent};
            return std::monostate{};
        case EntryField::Size:
            scratch = archive::SizeText(info.FullSize);
            return FieldText{scratch, std::nullopt};
        case EntryField::Suspect:
            if (!entry.Suspect) return std::monostate{};
            return FieldText{*entry.Suspect, std::nullopt};
        case EntryField::Sha256:
            if (entry.Data == nullptr || entry.Data->Missing) return std::monostate{};
            return FieldText{entry.Data->Sha256, std::nullopt};
        case EntryField::Entropy:
            if (entry.Data == nullptr || entry.Data->Missing) return std::monostate{};
            return Hundredths{entry.Data->EntropyHundredths};
        case EntryField::DataError:
            if (entry.Data == nullptr || !entry.Data->Missing) return std::monostate{};
            return FieldText{*entry.Data->Missing, std::nullopt};
    }
    return std::monostate{};
}

namespace detail {
template <class Visit, std::size_t... Index>
void VisitEntryFields(const EntryView& entry, std::string& scratch, Visit& visit, std::index_sequence<Index...>) {
    // Unrolled, so that each row's value is decided at compile time: this
    // runs for every entry of every listing.
    const auto row = [&]<std::size_t At>(std::integral_constant<std::size_t, At>) {
        if constexpr (kEntryFields[At].WithHashes) {
            if (entry.Data == nullptr) return;
        }
        visit(kEntryFields[At], EntryFieldValue(kEntryFields[At].Field, entry, scratch));
    };
    (row(std::integral_constant<std::size_t, Index>{}), ...);
}
}  // namespace detail

// visit(row, value) for each entry field, in the table's order; the rows
// WithHashes only when the entry comes with its Data. `row` is the table's
// own element, so &row - kEntryFields.data() is its index.
template <class Visit>
void ForEachEntryField(const EntryView& entry, std::string& scratch, Visit&& visit) {
    detail::VisitEntryFields(entry, scratch, visit, std::make_index_sequence<kEntryFields.size()>());
}

// visit(row, value) for each head field, in the table's order; the rows
// WithHashes only when the listing reads stored data.
template <class Visit>
void ForEachHeadField(const ListingHead& head, Visit&& visit) {
    for (const FieldRow<HeadField>& row : kHeadFields) {
        if (!row.WithHashes || head.Hashes) visit(row, HeadFieldValue(row.Field, head));
    }
}

}  // namespace vexmira::listing
