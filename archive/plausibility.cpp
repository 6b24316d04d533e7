#include "archive/plausibility.hpp"

#include <algorithm>
#include <limits>

#include "archive/format.hpp"

namespace vexmira::archive {

namespace {

constexpr std::uint8_t kLargestMethod = 4;  // "LH5", the last slot of CompressIDTable

bool IsControl(char c) noexcept {
    const auto byte = static_cast<std::uint8_t>(c);
    return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::optional<std::int64_t> EntryEnd(std::size_t nameLength, const TCompressedFileInfo& info) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (info.HeaderOffset < 0 || info.CompressedSize < 0) return std::nullopt;
    const std::optional<std::int64_t> dataStart = EntryDataStart(info, nameLength);
    if (!dataStart || info.CompressedSize > kMax - *dataStart) return std::nullopt;
    return *dataStart + info.CompressedSize;
}

std::optional<std::string_view> SuspectReason(std::string_view name, const TCompressedFileInfo& info,
                                              std::int64_t streamSize) noexcept {
    if (name.empty()) return "empty name";
    if (std::any_of(name.begin(), name.end(), IsControl)) return "control byte in name";
    if (info.Method > kLargestMethod) return "method out of range";
    if (info.FullSize < 0 || info.CompressedSize < 0) return "negative size";
    const std::optional<std::int64_t> end = EntryEnd(name.size(), info);
    if (!end || *end > streamSize) return "data past end of file";
    if (info.Method == 0 && info.CompressedSize != info.FullSize) return "stored size mismatch";
    return std::nullopt;
}

std::optional<std::string_view> PlausibleEnd::Add(std::string_view name, const TCompressedFileInfo& info) noexcept {
    const std::optional<std::string_view> reason = SuspectReason(name, info, stream_size_);
    if (reason) state_.SuspectSeen = true;
    if (state_.SuspectSeen) {
        ++state_.TrailingEntries;
    } else {
        state_.LastGoodEnd = EntryEnd(name.size(), info);
    }
    return reason;
}

std::int64_t PlausibleEnd::End(const WalkSummary& walk) const noexcept {
    return state_.LastGoodEnd ? *state_.LastGoodEnd : walk.HeaderEnd;
}

}  // namespace vexmira::archive
