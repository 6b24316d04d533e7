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
    total_ += size;
    if (size < 4096) {  // setting up the tables would cost more
        for (std::size_t i = 0; i < size; ++i) ++counts_[data[i]];
        return;
    }
    // Four tables, so that a run of one byte value does not wait on its own
    // last increment at every byte.
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    std::size_t i = 0;
    const auto flush = [&] {
        for (std::size_t value = 0; value < 256; ++value) {
            counts_[value] += std::uint64_t{counts[0][value]} + counts[1][value] + counts[2][value] + counts[3][value];
        }
        counts = {};
    };
    // 2^30 bytes per table at most before the 32-bit counts are added up.
    constexpr std::size_t kFlushEvery = std::size_t{1} << 30;
    for (std::size_t since = 0; size - i >= 4; i += 4, since += 4) {
        if (since == kFlushEvery) {
            flush();
            since = 0;
        }
        ++counts[0][data[i]];
        ++counts[1][data[i + 1]];
        ++counts[2][data[i + 2]];
        ++counts[3][data[i + 3]];
    }
    for (; i < size; ++i) ++counts[0][data[i]];
    flush();
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
    // Appended, not added: g++ 12 at -O3 takes "-" + string for an overlapping copy.
    std::string text(hundredths < 0 ? "-" : "");
    text += std::to_string(magnitude / 100);
    text += '.';
    text += static_cast<char>('0' + magnitude % 100 / 10);
    text += static_cast<char>('0' + magnitude % 10);
    return text;
}

}  // namespace vexmira::listing
