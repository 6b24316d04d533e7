#pragma once
// Archive headers the reader accepts at positions the locator's rule passes
// over (a "CUS" identifier, 'G' at byte 56, 'P' at byte 57), so that --all
// reports what other signature scanners see, marked as passed over. The rule
// is the locator's (locator::RuleRejection); the scan that finds them is its
// candidate scan (locator::ForEachSignature).

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vexmira::listing {

// Why the locator passes over the header that starts `window` (the
// locator's window of bytes from a position, fewer at the end of the file),
// when it does and the reader accepts it; none otherwise.
std::optional<std::string> PassedOverReason(std::span<const std::uint8_t> window);

}  // namespace vexmira::listing
