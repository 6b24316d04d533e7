#include "listing/fields.hpp"

#include <limits>

#include "archive/format.hpp"

namespace vexmira::listing {

ArchiveEnd ReportedArchiveEnd(const archive::WalkSummary& walk) {
    return {.End = walk.ArchiveEnd, .Truncated = walk.Truncated(), .Trailing = walk.TrailingBytes()};
}

std::uint64_t MostEntriesIn(std::int64_t size) noexcept {
    if (size <= archive::kArchiveHeaderSize) return 0;
    return static_cast<std::uint64_t>((size - archive::kArchiveHeaderSize) / archive::kEntryHeaderSize);
}

std::int64_t EntryDataOffset(const archive::TCompressedFileInfo& info, std::string_view name) noexcept {
    return archive::EntryDataStart(info, name.size()).value_or(std::numeric_limits<std::int64_t>::max());
}

std::int64_t SaturatingTimes(std::int64_t value, std::uint64_t count) noexcept {
    std::int64_t product = 0;
    if (count <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
        !__builtin_mul_overflow(value, static_cast<std::int64_t>(count), &product)) {
        return product;
    }
    return value < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
}

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (b > 0 && a > kMax - b) return kMax;
    if (b < 0 && a < kMin - b) return kMin;
    return a + b;
}


namespace {

template <std::size_t... Index>
FieldValue EntryFieldValueAt(EntryField field, const EntryView& entry, std::string& scratch, std::index_sequence<Index...>) {
    FieldValue value;
    static_cast<void>(((field == kEntryFields[Index].Field
                            ? (value = AsFieldValue(EntryFieldValueOf<kEntryFields[Index].Field>(entry), scratch), true)
                            : false) ||
                       ...));
    return value;
}

}  // namespace

FieldValue EntryFieldValue(EntryField field, const EntryView& entry, std::string& scratch) {
    return EntryFieldValueAt(field, entry, scratch, std::make_index_sequence<kEntryFields.size()>());
}
}  // namespace vexmira::listing
