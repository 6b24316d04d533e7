#include "listing/entry_data.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "listing/digest.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::listing {

StoredRange StoredRangeOf(const archive::TCompressedFileInfo& info, std::size_t nameLength,
                          std::int64_t streamSize) noexcept {
    const std::optional<std::int64_t> start = archive::EntryDataStart(info, nameLength);
    // Bounds by subtraction: a crafted size may be anything up to 2^63.
    if (!start || info.CompressedSize < 0 || streamSize < 0 || *start > streamSize ||
        info.CompressedSize > streamSize - *start) {
        return {0, 0, kStoredDataPastEnd};
    }
    return {*start, info.CompressedSize, std::nullopt};
}

void ByteCounts::Add(const std::uint8_t* data, std::size_t size) noexcept {
    for (std::size_t i = 0; i < size; ++i) ++counts_[data[i]];
    total_ += size;
}

std::int64_t ByteCounts::EntropyHundredths() const noexcept {
    if (total_ == 0) return 0;
    const auto total = static_cast<double>(total_);
    double bits = 0;
    for (const std::uint64_t count : counts_) {
        if (count == 0) continue;
        const double p = static_cast<double>(count) / total;
        bits -= p * std::log2(p);
    }
    return std::llround(bits * 100);
}

StoredData ReadStoredData(support::Stream& stream, const archive::TCompressedFileInfo& info, std::size_t nameLength,
                          const std::string& file) {
    const StoredRange range = StoredRangeOf(info, nameLength, stream.Size());
    if (range.Missing) return {{}, 0, range.Missing};
    const std::int64_t kept = stream.Position();
    if (stream.Seek(range.Start, support::SeekOrigin::Beginning) != range.Start) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "Seek failed"));
    }
    Sha256 digest;
    ByteCounts counts;
    // Sized by what the file holds of it, never by more than a fixed step.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(range.Size, std::int64_t{1} << 18)));
    for (std::int64_t left = range.Size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = stream.Read(buffer.data(), want);
        if (got == 0) throw support::EFOpenError(support::OpenErrorMessage(file, "Read failed"));
        digest.Add(buffer.data(), got);
        counts.Add(buffer.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    stream.Seek(kept, support::SeekOrigin::Beginning);
    return {digest.Hex(), counts.EntropyHundredths(), std::nullopt};
}

std::string HundredthsText(std::int64_t hundredths) {
    const std::int64_t magnitude = hundredths < 0 ? -hundredths : hundredths;
    std::string text = (hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100) + ".";
    text += static_cast<char>('0' + magnitude % 100 / 10);
    text += static_cast<char>('0' + magnitude % 10);
    return text;
}

}  // namespace vexmira::listing
