#pragma once
// What --hash reads of an entry: the digest and the entropy of its stored
// bytes, exactly as they lie in the file (nothing is decoded), and where they
// lie. The listing itself reads headers only; this is the one place that
// reads an entry's data.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/compress.hpp"
#include "support/stream.hpp"

namespace vexmira::listing {

// Why an entry's stored bytes are not read: they are incomplete, as the walk
// treats such an entry, not an error.
inline constexpr std::string_view kStoredDataPastEnd = "Its stored data runs past the end of the file";

// Where an entry's stored bytes lie in the stream listed (whose offsets
// `info` holds), or why they cannot all be read there.
struct StoredRange {
    std::int64_t Start = 0;
    std::int64_t Size = 0;
    std::optional<std::string_view> Missing;
};
StoredRange StoredRangeOf(const archive::TCompressedFileInfo& info, std::size_t nameLength,
                          std::int64_t streamSize) noexcept;

// Counts of each byte value, for the Shannon entropy.
class ByteCounts {
public:
    void Add(const std::uint8_t* data, std::size_t size) noexcept;
    // Bits per byte in hundredths (0 to 800); 0 for no bytes.
    std::int64_t EntropyHundredths() const noexcept;

private:
    std::array<std::uint64_t, 256> counts_{};
    std::uint64_t total_ = 0;
};

// What was read of one entry's stored bytes.
struct StoredData {
    std::string Sha256;                       // lower-case hex; empty when Missing
    std::int64_t EntropyHundredths = 0;       // bits per byte in hundredths
    std::optional<std::string_view> Missing;  // why nothing was read
};

// Reads the entry's stored bytes from `stream` (offsets as in `info`) in
// bounded memory; the stream's position is kept. Raises EFOpenError naming
// `file` when bytes the file holds cannot be read.
StoredData ReadStoredData(support::Stream& stream, const archive::TCompressedFileInfo& info, std::size_t nameLength,
                          const std::string& file);

// "7.99": hundredths as a decimal number with two places.
std::string HundredthsText(std::int64_t hundredths);

}  // namespace vexmira::listing
