#pragma once
// Which listed entries cannot be real ones, and so where an archive
// plausibly ends. The walk reads whatever follows an archive (zero padding, a
// signature block, another archive) as more entries; these rules, taken from
// the layout itself, tell such entries apart:
//
//   "empty name"              NameLength 0
//   "control byte in name"    a name byte below 0x20, or 0x7F
//   "method out of range"     Method above 4
//   "negative size"           FullSize or CompressedSize below zero
//   "data past end of file"   the stored data runs past the end of the data
//   "stored size mismatch"    a stored entry (Method 0, "None") whose
//                             CompressedSize differs from its FullSize
//
// The first that applies is the entry's reason.

#include <cstdint>
#include <optional>
#include <string_view>

#include "archive/compress.hpp"

namespace vexmira::archive {

// Where an entry's stored data ends (its header offset, header, name and
// stored bytes), or none when that does not fit in 64 bits.
std::optional<std::int64_t> EntryEnd(std::size_t nameLength, const TCompressedFileInfo& info) noexcept;

// The reason an entry cannot be a real one, or none. `streamSize` is the size
// of the data the archive lies in.
std::optional<std::string_view> SuspectReason(std::string_view name, const TCompressedFileInfo& info,
                                              std::int64_t streamSize) noexcept;

// Follows a walk entry by entry and keeps where the archive plausibly ends:
// the end of the last entry before the first suspect one, or the end of the
// archive header when the first entry is already suspect.
class PlausibleEnd {
public:
    // What it has learnt from the entries so far, for a walk that goes on later.
    struct State {
        bool SuspectSeen = false;
        std::optional<std::int64_t> LastGoodEnd;  // none before the first entry
        std::uint64_t TrailingEntries = 0;
    };

    explicit PlausibleEnd(std::int64_t streamSize) : stream_size_(streamSize) {}
    PlausibleEnd(std::int64_t streamSize, const State& state) : stream_size_(streamSize), state_(state) {}
    const State& Saved() const noexcept { return state_; }

    // Returns the entry's suspect reason, if any.
    std::optional<std::string_view> Add(std::string_view name, const TCompressedFileInfo& info) noexcept;

    // Once the walk is over.
    std::int64_t End(const WalkSummary& walk) const noexcept;
    // Entries from the first suspect one on: what looks like trailing data.
    std::uint64_t TrailingEntries() const noexcept { return state_.TrailingEntries; }

private:
    std::int64_t stream_size_;
    State state_;
};

}  // namespace vexmira::archive
