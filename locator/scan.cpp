#include "locator/scan.hpp"

#include "support/aligned_buffer.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Wider steps where the processor has them, chosen when the search runs.
#if defined(__x86_64__) && defined(__GNUC__)
#define VEXMIRA_AVX2_SEARCH 1
#include <immintrin.h>
#endif

namespace vexmira::locator {

namespace {

// Offsets of the bytes the third test looks at.
constexpr std::size_t kNotGAt = 56;
constexpr std::size_t kNotPAt = 57;
// Bytes the first two tests need: the signature and the first identifier letter.
constexpr std::size_t kRequiredBytes = kSignature.size() + 1;

// Chunks for the whole-file search; positions are examined once each, so the
// chunk size only decides how much is read at a time.
constexpr std::size_t kSearchChunk = std::size_t{1} << 20;

bool IsIdentifierStart(std::uint8_t byte) noexcept { return byte == 'L' || byte == 'N' || byte == 'R'; }

// Reads what follows the stream's position and puts the position back, so the
// block scan goes on exactly where it would have.
LookaheadFetch FetchFrom(support::Stream& input) {
    return [&input](std::span<std::uint8_t> out) -> std::size_t {
        const std::int64_t here = input.Position();
        const std::size_t got = input.Read(out.data(), out.size());
        if (input.Seek(here, support::SeekOrigin::Beginning) != here) return 0;
        return got;
    };
}

#if defined(__SSE2__)
// Lanes where 'S' at p[k] is followed by 'P' at p[k + 1]; reads p[0..16].
inline __m128i PairHits(const std::uint8_t* p) noexcept {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    return _mm_and_si128(_mm_cmpeq_epi8(first, _mm_set1_epi8('S')), _mm_cmpeq_epi8(second, _mm_set1_epi8('P')));
}

// Skips whole steps of positions where no "SP" starts, two bytes at a time:
// in random data a pair starts once in 64 KiB, where a lone 'S' would stop a
// byte search every 256 bytes. Stops at the first 16-position step that holds
// a pair, or when fewer than 16 positions are left; the byte search goes on
// from there.
std::size_t SkipPairless(const std::uint8_t* data, std::size_t last, std::size_t i) noexcept {
    while (last - i >= 64) {
        const __m128i any = _mm_or_si128(_mm_or_si128(PairHits(data + i), PairHits(data + i + 16)),
                                         _mm_or_si128(PairHits(data + i + 32), PairHits(data + i + 48)));
        if (_mm_movemask_epi8(any) != 0) break;
        i += 64;
    }
    while (last - i >= 16 && _mm_movemask_epi8(PairHits(data + i)) == 0) i += 16;
    return i;
}
#endif

#if defined(VEXMIRA_AVX2_SEARCH)
__attribute__((target("avx2"))) inline __m256i PairHits32(const std::uint8_t* p) noexcept {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    return _mm256_and_si256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('S')),
                            _mm256_cmpeq_epi8(second, _mm256_set1_epi8('P')));
}

// As SkipPairless, 128 positions per step.
__attribute__((target("avx2"))) std::size_t SkipPairlessAvx2(const std::uint8_t* data, std::size_t last,
                                                             std::size_t i) noexcept {
    while (last - i >= 128) {
        const __m256i any =
            _mm256_or_si256(_mm256_or_si256(PairHits32(data + i), PairHits32(data + i + 32)),
                            _mm256_or_si256(PairHits32(data + i + 64), PairHits32(data + i + 96)));
        if (!_mm256_testz_si256(any, any)) break;
        i += 128;
    }
    return i;
}

bool HasAvx2() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();  // may run before the runtime's own initialisation
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#endif

}  // namespace

bool MatchesSoFar(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t size = bytes.size();
    for (std::size_t k = 0; k < kSignature.size() && k < size; ++k) {
        if (bytes[k] != kSignature[k]) return false;
    }
    if (size > kSignature.size() && !IsIdentifierStart(bytes[kSignature.size()])) return false;
    if (size > kNotGAt && bytes[kNotGAt] == 'G') return false;
    if (size > kNotPAt && bytes[kNotPAt] == 'P') return false;
    return true;
}

bool IsCandidate(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() >= kRequiredBytes && MatchesSoFar(bytes.first(std::min(bytes.size(), kWindowSize)));
}

std::size_t NextSignaturePair(const std::uint8_t* data, std::size_t length, std::size_t from) noexcept {
    if (length < 2 || from >= length - 1) return length;
    // Positions before `last` have both bytes of the pair inside the data.
    const std::size_t last = length - 1;
    std::size_t i = from;
#if defined(VEXMIRA_AVX2_SEARCH)
    if (HasAvx2()) i = SkipPairlessAvx2(data, last, i);
#endif
#if defined(__SSE2__)
    i = SkipPairless(data, last, i);
#endif
    while (i < last) {
        const void* hit = std::memchr(data + i, 'S', last - i);
        if (hit == nullptr) return length;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
        if (data[i + 1] == 'P') return i;
        ++i;
    }
    return length;
}

std::vector<std::size_t> BlockCandidates(std::span<std::uint8_t> buffer, std::size_t length,
                                         const LookaheadFetch& fetch) {
    std::vector<std::size_t> found;
    length = std::min(length, buffer.size());
    const std::size_t room = std::min(kLookahead, buffer.size() - length);
    std::size_t available = length;
    bool fetched = false;

    const auto examine = [&](std::size_t i) {
        std::size_t have = std::min(available - i, kWindowSize);
        if (have < kWindowSize && !fetched) {
            // The window runs past the block; its bytes come from the file,
            // but only once the bytes at hand leave the position in play.
            if (!MatchesSoFar(buffer.subspan(i, have))) return;
            fetched = true;
            available += std::min(fetch(buffer.subspan(length, room)), room);
            have = std::min(available - i, kWindowSize);
        }
        if (IsCandidate(buffer.subspan(i, have))) found.push_back(i);
    };

    for (std::size_t i = NextSignaturePair(buffer.data(), length, 0); i < length;
         i = NextSignaturePair(buffer.data(), length, i + 1)) {
        examine(i);
    }
    // The pair search sees only pairs inside the block; the last position may
    // still open a signature whose 'P' lies beyond it.
    if (length > 0 && buffer[length - 1] == kSignature[0]) examine(length - 1);
    return found;
}

std::int64_t FindArchive(support::Stream& input, std::int64_t size) {
    std::array<std::uint8_t, kBlockSize + kLookahead> buffer;
    const LookaheadFetch fetch = FetchFrom(input);
    for (;;) {
        const std::int64_t blockStart = input.Position();
        const std::size_t n = input.Read(buffer.data(), kBlockSize);
        if (n == 0) return -1;

        const std::vector<std::size_t> found = BlockCandidates(buffer, n, fetch);
        if (!found.empty()) return blockStart + static_cast<std::int64_t>(found.back());

        // Only a full block can be followed by more of the file; stepping back
        // after a short one could read the same tail forever.
        const std::int64_t after = input.Position();
        if (n == kBlockSize && (size < 0 || after < size)) {
            if (input.Seek(-static_cast<std::int64_t>(kBlockOverlap), support::SeekOrigin::Current) < 0) return -1;
        }
    }
}

void ForEachCandidate(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate) {
    const std::size_t capacity = kSearchChunk + kLookahead;
    const support::AlignedBuffer storage = support::AllocateAligned(capacity);
    const std::span<std::uint8_t> buffer(storage.get(), capacity);
    const LookaheadFetch fetch = FetchFrom(input);
    for (;;) {
        const std::int64_t start = input.Position();
        const std::size_t n = input.Read(buffer.data(), kSearchChunk);
        if (n == 0) return;
        const std::vector<std::size_t> found = BlockCandidates(buffer, n, fetch);
        if (found.empty()) continue;
        const std::int64_t next = start + static_cast<std::int64_t>(n);
        for (const std::size_t i : found) onCandidate(start + static_cast<std::int64_t>(i));
        if (input.Seek(next, support::SeekOrigin::Beginning) != next) return;
    }
}

std::string OffsetHex(std::int64_t offset) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string hex;
    auto value = static_cast<std::uint64_t>(offset);
    do {
        hex.insert(hex.begin(), kHexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (hex.size() < 8) hex.insert(0, 8 - hex.size(), '0');
    return hex;
}

std::string OffsetText(std::int64_t offset) { return OffsetHex(offset) + " - " + std::to_string(offset / 1024) + " Kb"; }

ProgressScale ProgressScale::For(std::int64_t size) noexcept {
    constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
    ProgressScale scale;
    while ((size >> scale.shift) > kLargest) scale.shift += 10;
    return scale;
}

std::int32_t ProgressScale::Units(std::int64_t bytes) const noexcept {
    if (bytes <= 0) return 0;
    const std::int64_t units = bytes >> shift;
    return static_cast<std::int32_t>(std::min<std::int64_t>(units, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace vexmira::locator
