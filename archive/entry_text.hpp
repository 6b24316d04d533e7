#pragma once
// The texts and choices the dialog shows for a selected entry; the command-line
// tool shows the same.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/compress.hpp"

namespace vexmira::archive {

// "N%" with N = 100 - ratio, or "(empty)" when FullSize <= 0; " (locked)" appended for locked entries.
// The ratio is 64-bit arithmetic whose product wraps, truncated to its low 32 bits.
std::string PercentageText(const TCompressedFileInfo& info);
// The N of "N%"; none where the text says "(empty)".
std::optional<std::int32_t> PercentCompressed(const TCompressedFileInfo& info) noexcept;

// "N Kb" with N = (fullSize + 512) div 1024.
std::string SizeText(std::int64_t fullSize);

// The method button for a Method byte: 0 "None", 1 "RLE", 2 "LZH1", 3 and above "LZH5".
int MethodButtonIndex(std::uint8_t method) noexcept;
inline constexpr std::string_view kMethodButtonCaptions[4] = {"None", "RLE", "LZH1", "LZH5"};
std::string_view MethodName(std::uint8_t method) noexcept;

}  // namespace vexmira::archive
