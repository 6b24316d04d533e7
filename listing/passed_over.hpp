#pragma once
// Archive headers the reader accepts at positions the locator's rule passes
// over (a "CUS" identifier, 'G' at byte 56, 'P' at byte 57), so that --all
// reports what YARA and binwalk see, marked as passed over.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/compress.hpp"
#include "support/stream.hpp"

namespace vexmira::listing {

// Why the locator passes over the header that starts `window` (the
// locator's window of bytes from a position, fewer at the end of the file),
// when it does and the reader accepts it; none otherwise.
std::optional<std::string> PassedOverReason(std::span<const std::uint8_t> window);

struct PassedOverHeader {
    std::int64_t Offset = 0;
    std::string Reason;
};

// Walks the stream forward once, in steps that never run past the limit it
// is given, so a scan beside the candidates reads each byte about once.
class PassedOverScan {
public:
    explicit PassedOverScan(support::Stream& input);
    // The next passed-over header before `limit` (none: to the end). The
    // stream's position is kept.
    std::optional<PassedOverHeader> Next(std::optional<std::int64_t> limit);

private:
    support::Stream& input_;
    std::int64_t position_;  // the next position to examine
    std::size_t step_;       // positions examined at a time
    std::vector<std::uint8_t> buffer_;
};

}  // namespace vexmira::listing
