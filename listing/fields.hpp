#pragma once
// A listing's fields, in one table: every sink that writes a listing head or
// an entry field by field (JSON, CSV, the Python objects, the page) iterates
// these rows in this order, so a field added here appears in all of them, and
// a row's value is decided here once.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

// The most entries a listing of `size` bytes can hand over: each entry's
// header lies whole in the file, after the archive header and before the
// next entry's header. A bound known without reading, for splitting work.
std::uint64_t MostEntriesIn(std::int64_t size) noexcept;

// Where an entry's stored bytes start: after its header and its name.
std::int64_t EntryDataOffset(const archive::TCompressedFileInfo& info, std::string_view name) noexcept;

// A field's text: bytes from a file or the file system, read as `From` says;
// without From, the tool's own words (ASCII with nothing to escape or guard),
// written as they are.
struct FieldText {
    std::string_view Bytes;
    std::optional<Encoding> From;
};

// The typed path's own words (ForEachEntryField): a view, or a text the
// value holds itself.
struct OwnText {
    std::string_view Bytes;
};
struct OwnString {
    std::string Bytes;
};

// A number with two decimal places, held as hundredths: JSON's and CSV's
// number 7.99, Python's float.
struct Hundredths {
    std::int64_t Value = 0;
};

// A field's value; monostate is JSON's null, an empty CSV cell, Python's None.
using FieldValue = std::variant<std::monostate, bool, std::int64_t, FieldText, Hundredths>;

enum class HeadField {
    File,
    PathEncoding,
    Listed,
    Offset,
    Located,
    PassedOver,
    PassedOverCount,
    ReplacedCandidates,
    CompressId,
    SizeValue,
    Long13,
    Flags,
    ArchiveHeaderSize,
    InputSha256,
};
enum class EntryField {
    Name,
    FullSize,
    CompressedSize,
    Method,
    MethodId,
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

inline constexpr std::array<FieldRow<HeadField>, 14> kHeadFields = {{
    {HeadField::File, "the FILE as given", "file", "file", "file"},
    {HeadField::PathEncoding, "how the path's bytes are read", "path_encoding", "path_encoding", "path_encoding"},
    {HeadField::Listed, "the path whose entries are read", "listed", "listed", "listed"},
    {HeadField::Offset, "where the archive starts in FILE", "offset", "offset", "offset"},
    {HeadField::Located, "whether the locator chose the offset", "located", "located", "located"},
    {HeadField::PassedOver, "why the locator passes the header over", "passed_over", "passed_over", "passed_over"},
    // Counts for a listing, not a row's: in JSON and the module, not in CSV.
    {HeadField::PassedOverCount, "headers the locator's rule passed over in the blocks it read", "passed_over_count", "",
     "passed_over_count"},
    {HeadField::ReplacedCandidates, "candidates of the winning block before the one chosen", "replaced_candidates", "",
     "replaced_candidates"},
    {HeadField::CompressId, "the archive header's identifier, 8-bit", "compress_id", "compress_id", "compress_id"},
    {HeadField::SizeValue, "the archive header's size field", "size_value", "size_value", "size_value"},
    {HeadField::Long13, "the archive header's 32-bit field at byte 13", "long13", "long13", "long13"},
    {HeadField::Flags, "the archive header's flags", "flags", "flags", "flags"},
    {HeadField::ArchiveHeaderSize, "the archive header's size", "archive_header_size", "archive_header_size",
     "archive_header_size"},
    {HeadField::InputSha256, "the SHA-256 of FILE's bytes", "input_sha256", "input_sha256", "input_sha256", true},
}};

inline constexpr std::array<FieldRow<EntryField>, 20> kEntryFields = {{
    {EntryField::Name, "the entry's name, 8-bit", "name", "name", "name"},
    {EntryField::FullSize, "the size once expanded", "full_size", "full_size", "full_size"},
    {EntryField::CompressedSize, "the size stored", "compressed_size", "compressed_size", "compressed_size"},
    {EntryField::Method, "the method byte", "method", "method", "method"},
    {EntryField::MethodId, "the method's identifier (NON, RLE, LZH, CUS, LH5); null beyond the table", "method_id",
     "method_id", "method_id"},
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

inline FieldValue CountValue(const std::optional<std::uint64_t>& count) noexcept {
    if (!count) return std::monostate{};
    return static_cast<std::int64_t>(std::min<std::uint64_t>(*count, std::numeric_limits<std::int64_t>::max()));
}

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
        case HeadField::PassedOverCount:
            return CountValue(head.PassedOverCount);
        case HeadField::ReplacedCandidates:
            return CountValue(head.ReplacedCandidates);
        default:
            break;
    }
    // The archive header's own fields: null where none was read.
    if (!head.Header) return std::monostate{};
    const archive::ArchiveHeader& header = *head.Header;
    switch (field) {
        case HeadField::CompressId:
            return FieldText{std::string_view(header.CompressID.data(), header.CompressID.size()), Encoding::Latin1};
        case HeadField::SizeValue:
            return header.SizeValue;
        case HeadField::Long13:
            return std::int64_t{header.Long13};
        case HeadField::Flags:
            return std::int64_t{header.Flags};
        case HeadField::ArchiveHeaderSize:
            return head.HeaderSize;
        default:
            break;
    }
    return std::monostate{};
}

// How a listing's message or error reads: an archive's own bytes (an
// unknown method's identifier) as Latin-1, the rest as the path.
inline Encoding TextEncoding(const Text& text, const ListingHead& head) noexcept {
    return text.FromArchive() ? Encoding::Latin1 : head.PathEncoding;
}

// What the listing's end says in every listing, after its entries; the
// keys a listing has only sometimes (joins, stopped, carved_in, also_at,
// carved) are each front end's to show.
enum class EndField {
    Error,
    ArchiveEnd,
    Truncated,
    TrailingBytes,
    PlausibleEnd,
};

inline constexpr std::array<FieldRow<EndField>, 5> kEndFields = {{
    {EndField::Error, "why the listing failed", "error", "", "error"},
    {EndField::ArchiveEnd, "where the archive ends: past its last entry whose data is whole", "archive_end", "",
     "archive_end"},
    {EndField::Truncated, "whether the walk was cut short", "truncated", "", "truncated"},
    {EndField::TrailingBytes, "how many bytes of FILE follow archive_end", "trailing_bytes", "", "trailing_bytes"},
    {EndField::PlausibleEnd, "where the archive plausibly ends: before its first suspect entry", "plausible_end", "",
     "plausible_end"},
}};

// What an end field holds for this listing: the walk's figures are null
// where no walk ran to its end.
inline FieldValue EndFieldValue(EndField field, const ListingHead& head, const ListingEnd& end) noexcept {
    if (field == EndField::Error) {
        if (!end.Error) return std::monostate{};
        return FieldText{end.Error->Bytes, TextEncoding(*end.Error, head)};
    }
    if (!end.Walk) return std::monostate{};
    const ArchiveEnd reported = ReportedArchiveEnd(*end.Walk);
    switch (field) {
        case EndField::ArchiveEnd:
            return reported.End;
        case EndField::Truncated:
            return reported.Truncated;
        case EndField::TrailingBytes:
            return reported.Trailing;
        case EndField::PlausibleEnd:
            return end.PlausibleEnd;
        case EndField::Error:
            break;
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

// What entry field F holds, as its own type: a text, the tool's own words,
// a number, a flag, or an optional one of those (none: null).
template <EntryField F>
auto EntryFieldValueOf(const EntryView& entry) {
    const archive::TCompressedFileInfo& info = entry.Info;
    if constexpr (F == EntryField::Name) {
        return FieldText{entry.Name, Encoding::Latin1};
    } else if constexpr (F == EntryField::FullSize) {
        return info.FullSize;
    } else if constexpr (F == EntryField::CompressedSize) {
        return info.CompressedSize;
    } else if constexpr (F == EntryField::Method) {
        return std::int64_t{info.Method};
    } else if constexpr (F == EntryField::MethodId) {
        // The identifier the header's method byte indexes; a byte past the table has none.
        return info.Method < archive::CompressIDTable.size() ? std::optional<OwnText>(OwnText{archive::CompressIDTable[info.Method]})
                                                              : std::nullopt;
    } else if constexpr (F == EntryField::MethodName) {
        return OwnText{archive::MethodName(info.Method)};
    } else if constexpr (F == EntryField::Locked) {
        return info.Locked;
    } else if constexpr (F == EntryField::HeaderOffset) {
        return info.HeaderOffset;
    } else if constexpr (F == EntryField::HeaderSize) {
        return std::int64_t{info.HeaderSize};
    } else if constexpr (F == EntryField::DataOffset) {
        return EntryDataOffset(info, entry.Name);
    } else if constexpr (F == EntryField::Long2) {
        return std::int64_t{info.Long2};
    } else if constexpr (F == EntryField::Word6) {
        return std::int64_t{info.Word6};
    } else if constexpr (F == EntryField::Long17) {
        return std::int64_t{info.Long17};
    } else if constexpr (F == EntryField::Percentage) {
        return OwnString{archive::PercentageText(info)};
    } else if constexpr (F == EntryField::PercentCompressed) {
        const std::optional<std::int32_t> percent = archive::PercentCompressed(info);
        return percent ? std::optional<std::int64_t>(*percent) : std::nullopt;
    } else if constexpr (F == EntryField::Size) {
        return OwnString{archive::SizeText(info.FullSize)};
    } else if constexpr (F == EntryField::Suspect) {
        return entry.Suspect ? std::optional<OwnText>(OwnText{*entry.Suspect}) : std::nullopt;
    } else if constexpr (F == EntryField::Sha256) {
        if (entry.Data == nullptr || entry.Data->Missing) return std::optional<OwnText>();
        return std::optional<OwnText>(OwnText{entry.Data->Sha256});
    } else if constexpr (F == EntryField::Entropy) {
        if (entry.Data == nullptr || entry.Data->Missing) return std::optional<Hundredths>();
        return std::optional<Hundredths>(Hundredths{entry.Data->EntropyHundredths});
    } else {
        static_assert(F == EntryField::DataError);
        return entry.Data != nullptr && entry.Data->Missing ? std::optional<OwnText>(OwnText{*entry.Data->Missing})
                                                            : std::nullopt;
    }
}

// Any of those as a FieldValue; an OwnString's text is moved into `scratch`,
// which the value then views.
template <class Value>
FieldValue AsFieldValue(Value value, std::string& scratch) {
    if constexpr (std::is_same_v<Value, OwnText>) {
        return FieldText{value.Bytes, std::nullopt};
    } else if constexpr (std::is_same_v<Value, OwnString>) {
        scratch = std::move(value.Bytes);
        return FieldText{scratch, std::nullopt};
    } else if constexpr (std::is_same_v<Value, std::optional<std::int64_t>> || std::is_same_v<Value, std::optional<OwnText>> ||
                         std::is_same_v<Value, std::optional<Hundredths>>) {
        if (!value) return std::monostate{};
        return AsFieldValue(*value, scratch);
    } else {
        return value;
    }
}

// The value of a field known only as it runs (a binding's loop over the
// rows); a composed text is kept in `scratch`, which the value views.
FieldValue EntryFieldValue(EntryField field, const EntryView& entry, std::string& scratch);

namespace detail {
template <class Visit, std::size_t... Index>
void VisitEntryFields(const EntryView& entry, Visit& visit, std::index_sequence<Index...>) {
    // Unrolled, so that each row's value is decided at compile time: this
    // runs for every entry of every listing. The rows WithHashes are there
    // only when the entry comes with its Data.
    const auto row = [&]<std::size_t At>(std::integral_constant<std::size_t, At> index) {
        if constexpr (kEntryFields[At].WithHashes) {
            if (entry.Data == nullptr) return;
        }
        visit(index, EntryFieldValueOf<kEntryFields[At].Field>(entry));
    };
    (row(std::integral_constant<std::size_t, Index>{}), ...);
}
}  // namespace detail

// visit(index, value) for each entry field, in the table's order: its row's
// index in kEntryFields as a compile-time constant (std::integral_constant),
// and the value as EntryFieldValueOf gives it. The rows WithHashes only when
// the entry comes with its Data (--hash).
template <class Visit>
void ForEachEntryField(const EntryView& entry, Visit&& visit) {
    detail::VisitEntryFields(entry, visit, std::make_index_sequence<kEntryFields.size()>());
}

// A member of a listing's end past its rows: one value, or an object of up
// to three.
struct EndMember {
    std::string_view Key;
    FieldValue Value;  // when it is no object
    bool IsObject = false;
    std::array<std::pair<std::string_view, FieldValue>, 3> Members{};
    std::size_t MemberCount = 0;
};

// visit(member) for each member of the end past its rows, in order: joins,
// stopped, carved_in and also_at where they apply, and carved always (null
// when nothing was carved).
template <class Visit>
void ForEachEndMember(const ListingHead& head, const ListingEnd& end, Visit&& visit) {
    if (end.Joins) visit(EndMember{"joins", *end.Joins});
    if (end.Stopped) {
        const bool signature = end.Stopped->Reason == WalkStop::Why::Signature;
        visit(EndMember{"stopped", {}, true,
                        {{{"header_offset", end.Stopped->HeaderOffset}, {signature ? "signature" : "overlaps", end.Stopped->At}}},
                        2});
    }
    if (end.CarvedIn) visit(EndMember{"carved_in", FieldText{*end.CarvedIn, head.PathEncoding}});
    if (end.AlsoAt) {
        visit(EndMember{"also_at", {}, true,
                        {{{"count", static_cast<std::int64_t>(end.AlsoAt->Count)}, {"every", end.AlsoAt->Every}}},
                        2});
    }
    if (end.Carved) {
        visit(EndMember{"carved", {}, true,
                        {{{"path", FieldText{end.Carved->Path, head.PathEncoding}},
                          {"size", end.Carved->Size},
                          {"sha256", FieldText{end.Carved->Sha256, std::nullopt}}}},
                        3});
    } else {
        visit(EndMember{"carved", std::monostate{}});
    }
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
