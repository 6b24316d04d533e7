#include "archive/entry_text.hpp"

#include <limits>

namespace vexmira::archive {

std::optional<std::int32_t> PercentCompressed(const TCompressedFileInfo& info) noexcept {
    if (info.FullSize <= 0) return std::nullopt;
    std::int64_t quotient;
    if (info.FullSize <= 100000) {
        // The product wraps like the 64-bit machine arithmetic it mirrors.
        const auto product = static_cast<std::int64_t>(std::uint64_t{100} * static_cast<std::uint64_t>(info.CompressedSize));
        quotient = product / info.FullSize;
    } else {
        quotient = info.CompressedSize / (info.FullSize / 100);
    }
    const auto ratio = static_cast<std::uint32_t>(static_cast<std::uint64_t>(quotient));  // low 32 bits
    return static_cast<std::int32_t>(100u - ratio);                                      // 32-bit, wrapping
}

std::string PercentageText(const TCompressedFileInfo& info) {
    const std::optional<std::int32_t> percentage = PercentCompressed(info);
    std::string text = percentage ? std::to_string(*percentage) + "%" : std::string("(empty)");
    if (info.Locked) text += " (locked)";
    return text;
}

std::string SizeText(std::int64_t fullSize) {
    // Completed sizes stay far below the limit; anything else saturates rather than wraps.
    constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
    const std::int64_t rounded = fullSize > kLargest - 512 ? kLargest : fullSize + 512;
    return std::to_string(rounded / 1024) + " Kb";
}

int MethodButtonIndex(std::uint8_t method) noexcept { return method < 3 ? method : 3; }

std::string_view MethodName(std::uint8_t method) noexcept { return kMethodButtonCaptions[MethodButtonIndex(method)]; }

}  // namespace vexmira::archive
