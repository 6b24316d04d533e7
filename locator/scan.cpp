#include "locator/scan.hpp"

#include "archive/format.hpp"
#include "support/aligned_buffer.hpp"
#include "support/file_stream.hpp"

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

constexpr std::size_t kFirstNameAt = archive::kArchiveHeaderSize + archive::kEntryHeaderSize;
static_assert(kNotGAt == kFirstNameAt + 10 && kNotPAt == kFirstNameAt + 11);
static_assert(kSignature == archive::ArchiveSignature, "the locator's copy must equal the reader's");
// Bytes the first two tests need: the signature and the first identifier letter.
constexpr std::size_t kRequiredBytes = kSignature.size() + 1;

// Chunks for the whole-file search, far larger than the block scan's 4096
// bytes on purpose: positions are examined once each, so the chunk size only
// decides how much is read at a time, not what is found.
constexpr std::size_t kSearchChunk = std::size_t{1} << 20;
static_assert(kScanReadSize >= support::FileStream::kMaxReadAhead, "reads of this size skip the stream's buffer");

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

// Without vector steps: the tests at each 0x1A found by memchr (the
// signature's rarest byte in text), 32 positions per PrefixBits.
namespace portable {

constexpr std::size_t kWidth = 32;

bool PrefixMatches(const std::uint8_t* p) noexcept {
    return std::equal(kSignature.begin(), kSignature.end(), p) && IsIdentifierStart(p[kIdentifierAt]);
}

std::size_t WholeWindowSteps(const std::uint8_t* data, std::size_t whole, std::vector<std::size_t>& found,
                             std::vector<std::size_t>* others) {
    constexpr std::size_t kAt = kSignature.size() - 1;  // where 0x1A lies in the window
    std::size_t i = 0;
    while (i < whole) {
        const void* hit = std::memchr(data + i + kAt, kSignature[kAt], whole - i);
        if (hit == nullptr) break;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data) - kAt;
        if (std::equal(kSignature.begin(), kSignature.end(), data + i)) {
            if (IsIdentifierStart(data[i + kIdentifierAt]) && data[i + kNotGAt] != 'G' && data[i + kNotPAt] != 'P') {
                found.push_back(i);
            } else if (others != nullptr) {
                others->push_back(i);
            }
        }
        ++i;
    }
    return whole;
}

std::uint32_t PrefixBits(const std::uint8_t* p) noexcept {
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < kWidth; ++k) bits |= PrefixMatches(p + k) ? std::uint32_t{1} << k : 0;
    return bits;
}

// As the vector kernels' SignatureSteps: each 0x1A found by memchr.
std::size_t SignatureSteps(const std::uint8_t* data, std::size_t i, std::size_t last) noexcept {
    constexpr std::size_t kAt = kSignature.size() - 1;  // where 0x1A lies in the signature
    const std::size_t end = last + kWidth;              // the steps' positions lie below it
    while (i < end) {
        const void* hit = std::memchr(data + i + kAt, kSignature[kAt], end - i);
        if (hit == nullptr) return end;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data) - kAt;
        if (std::equal(kSignature.begin(), kSignature.end(), data + i)) return i;
        ++i;
    }
    return i;
}

}  // namespace portable

#if defined(__SSE2__)
namespace sse2 {

using V = __m128i;
constexpr std::size_t kWidth = 16;
inline V Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline V Eq(V bytes, std::uint8_t value) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value))); }
inline V And(V a, V b) { return _mm_and_si128(a, b); }
inline V Or(V a, V b) { return _mm_or_si128(a, b); }
inline V Without(V a, V b) { return _mm_andnot_si128(b, a); }
inline V IsLetter(V bytes) { return Or(Or(Eq(bytes, 'L'), Eq(bytes, 'N')), Eq(bytes, 'R')); }
inline std::uint32_t Bits(V mask) { return static_cast<std::uint32_t>(_mm_movemask_epi8(mask)); }
inline bool Any(V mask) { return Bits(mask) != 0; }

#include "locator/candidate_steps.inc"

}  // namespace sse2
#endif

#if defined(VEXMIRA_AVX2_SEARCH)
// Everything in this namespace is compiled for AVX2 and runs only where the
// processor has it.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {

using V = __m256i;
constexpr std::size_t kWidth = 32;
inline V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline V Eq(V bytes, std::uint8_t value) { return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(value))); }
inline V And(V a, V b) { return _mm256_and_si256(a, b); }
inline V Or(V a, V b) { return _mm256_or_si256(a, b); }
inline V Without(V a, V b) { return _mm256_andnot_si256(b, a); }
// One table look-up: each lane's low four bits pick the letter that would
// have them ('L' 0x4C, 'N' 0x4E, 'R' 0x52; 0xFF, which no byte below 0x80
// equals, elsewhere), and bytes of 0x80 and above look up 0.
inline V IsLetter(V bytes) {
    const V table = _mm256_setr_epi8(-1, -1, 'R', -1, -1, -1, -1, -1, -1, -1, -1, -1, 'L', -1, 'N', -1,  //
                                     -1, -1, 'R', -1, -1, -1, -1, -1, -1, -1, -1, -1, 'L', -1, 'N', -1);
    return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
}
inline std::uint32_t Bits(V mask) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(mask)); }
inline bool Any(V mask) { return _mm256_testz_si256(mask, mask) == 0; }

#include "locator/candidate_steps.inc"

}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

bool HasAvx2() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();  // may run before the runtime's own initialisation
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#endif

// One way of running the search steps.
struct SearchKernel {
    std::size_t Width;  // positions per PrefixBits
    std::size_t (*WholeWindowSteps)(const std::uint8_t* data, std::size_t whole, std::vector<std::size_t>& found,
                                    std::vector<std::size_t>* others);
    std::uint32_t (*PrefixBits)(const std::uint8_t* p);
    // The first position from i where the whole signature starts, among the
    // steps of Width positions that start at `last` or before; else the first
    // position past them. Reads data[i, last + Width + 4).
    std::size_t (*SignatureSteps)(const std::uint8_t* data, std::size_t i, std::size_t last);
};

SearchKernel KernelFor(SearchPath path) noexcept {
    switch (path) {
#if defined(__SSE2__)
        case SearchPath::Sse2: return {sse2::kWidth, sse2::WholeWindowSteps, sse2::PrefixBits, sse2::SignatureSteps};
#endif
#if defined(VEXMIRA_AVX2_SEARCH)
        case SearchPath::Avx2:
            if (HasAvx2()) return {avx2::kWidth, avx2::WholeWindowSteps, avx2::PrefixBits, avx2::SignatureSteps};
            break;
#endif
        default: break;
    }
    return {portable::kWidth, portable::WholeWindowSteps, portable::PrefixBits, portable::SignatureSteps};
}

}  // namespace

std::optional<std::string> RuleRejection(std::span<const std::uint8_t> window) {
    if (window.size() > kIdentifierAt && !IsIdentifierStart(window[kIdentifierAt])) {
        const std::size_t length = std::min<std::size_t>(3, window.size() - kIdentifierAt);
        std::string reason(reinterpret_cast<const char*>(window.data() + kIdentifierAt), length);
        reason += " identifier";
        return reason;
    }
    if (window.size() > kNotGAt && window[kNotGAt] == 'G') return std::string("G at byte 56");
    if (window.size() > kNotPAt && window[kNotPAt] == 'P') return std::string("P at byte 57");
    return std::nullopt;
}

bool MatchesSoFar(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t size = bytes.size();
    for (std::size_t k = 0; k < kSignature.size() && k < size; ++k) {
        if (bytes[k] != kSignature[k]) return false;
    }
    if (size > kIdentifierAt && !IsIdentifierStart(bytes[kIdentifierAt])) return false;
    if (size > kNotGAt && bytes[kNotGAt] == 'G') return false;
    if (size > kNotPAt && bytes[kNotPAt] == 'P') return false;
    return true;
}

bool IsCandidate(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() >= kRequiredBytes && MatchesSoFar(bytes.first(std::min(bytes.size(), kWindowSize)));
}

namespace {

// The path every search takes unless told otherwise.
SearchPath FastestPath() noexcept {
    static const SearchPath fastest = SearchPaths().back();
    return fastest;
}

}  // namespace

std::size_t NextSignature(const std::uint8_t* data, std::size_t length, std::size_t from) noexcept {
    return NextSignature(data, length, from, FastestPath());
}

std::size_t NextSignature(const std::uint8_t* data, std::size_t length, std::size_t from, SearchPath path) noexcept {
    constexpr std::size_t kSize = kSignature.size();
    if (length < kSize) return length;
    const SearchKernel kernel = KernelFor(path);
    std::size_t i = from;
    // A step reads kSize - 1 bytes past its last position; the positions past
    // the last whole step, and a hit the steps return, are looked at here.
    if (length - kSize + 1 >= kernel.Width && i <= length - kSize + 1 - kernel.Width) {
        i = kernel.SignatureSteps(data, i, length - kSize + 1 - kernel.Width);
    }
    for (; i + kSize <= length; ++i) {
        if (std::equal(kSignature.begin(), kSignature.end(), data + i)) return i;
    }
    return length;
}

std::span<const SearchPath> SearchPaths() noexcept {
    static const std::vector<SearchPath> paths = [] {
        std::vector<SearchPath> available = {SearchPath::Portable};
#if defined(__SSE2__)
        available.push_back(SearchPath::Sse2);
#endif
#if defined(VEXMIRA_AVX2_SEARCH)
        if (HasAvx2()) available.push_back(SearchPath::Avx2);
#endif
        return available;
    }();
    return paths;
}

std::vector<std::size_t> BlockCandidates(std::span<std::uint8_t> buffer, std::size_t length,
                                         const LookaheadFetch& fetch) {
    return BlockCandidates(buffer, length, fetch, FastestPath());
}

std::vector<std::size_t> BlockCandidates(std::span<std::uint8_t> buffer, std::size_t length,
                                         const LookaheadFetch& fetch, SearchPath path) {
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

    // Positions whose whole window lies in the block are tested in full by
    // the vector steps.
    const SearchKernel kernel = KernelFor(path);
    const std::uint8_t* data = buffer.data();
    const std::size_t whole = length >= kWindowSize ? length - kLookahead : 0;
    std::size_t i = kernel.WholeWindowSteps(data, whole, found, nullptr);

    // Then those whose signature and letter lie in the block, a step at a
    // time (the last one moved back to end with them); the few that pass are
    // examined one by one, with the look-ahead when their window needs it.
    const std::size_t prefixEnd = length >= kRequiredBytes ? length - kRequiredBytes + 1 : 0;
    if (length >= kernel.Width + kRequiredBytes - 1) {
        while (i < prefixEnd) {
            const std::size_t base = std::min(i, prefixEnd - kernel.Width);
            for (std::uint32_t bits = kernel.PrefixBits(data + base) >> (i - base); bits != 0; bits &= bits - 1) {
                examine(i + static_cast<std::size_t>(std::countr_zero(bits)));
            }
            i = base + kernel.Width;
        }
    }
    // The last positions hold only part of the signature.
    for (; i < length; ++i) {
        if (data[i] == kSignature[0]) examine(i);
    }
    return found;
}

std::int64_t FindArchive(support::Stream& input, std::int64_t size) {
    return FindArchive(input, size, kScanReadSize);
}

std::int64_t FindArchive(support::Stream& input, std::int64_t size, std::size_t readSize) {
    return FindArchive(input, size, readSize, nullptr);
}

std::int64_t FindArchive(support::Stream& input, std::int64_t size, std::size_t readSize, ScanWitness* witness) {
    // The blocks are 4096 bytes as the scan defines them, but their bytes are
    // read up to readSize at a time and each block is examined where it lies in
    // memory, on purpose: the same bytes in the same order, so the same
    // candidates and the same winner, without a copy, a seek or a system call
    // per block. A block is examined once it has its look-ahead too (or the
    // file has ended); what is left of the read then moves in front of the
    // next one, so reads stay sequential and land on an aligned address.
    constexpr std::size_t kBlockWithLookahead = kBlockSize + kLookahead;
    constexpr std::size_t kStride = kBlockSize - kBlockOverlap;
    constexpr std::size_t kFront = 2 * support::kBufferAlignment;  // room for what a block carries over
    static_assert(kFront >= kBlockWithLookahead);

    readSize = std::max<std::size_t>(readSize, 1);
    // No more room than the rest of the file needs: a buffer of a full read
    // for every small file costs a map and an unmap of the process's memory
    // each, which threads examining files at once wait on.
    const std::int64_t start = input.Position();
    if (size >= 0 && start >= 0 && size >= start) {
        const auto left = static_cast<std::uint64_t>(size - start);
        constexpr std::uint64_t kAlign = support::kBufferAlignment;
        const std::uint64_t rounded = left / kAlign * kAlign + (left % kAlign != 0 ? kAlign : 0);
        if (rounded < readSize) readSize = std::max<std::size_t>(static_cast<std::size_t>(rounded), kAlign);
    }
    support::AlignedBuffer storage = support::TryAllocateAligned(kFront + readSize);
    // Short of memory, the blocks' own size on the stack: slower, never failing.
    alignas(64) std::array<std::uint8_t, kFront + kBlockSize> fallback;
    std::uint8_t* const base = storage ? storage.get() : fallback.data();
    if (!storage) readSize = kBlockSize;
    std::uint8_t* const reads = base + kFront;

    // Bytes [pendingStart, pendingStart + pending) of the file lie just in
    // front of `reads`; pendingStart is where the next block begins.
    std::int64_t pendingStart = start;
    std::size_t pending = 0;
    bool ended = false;
    // The reads start at a block and double: an archive near the start costs
    // little reading, whatever the stream is (one over a network too).
    std::size_t step = std::min(readSize, kBlockSize);
    const SearchKernel kernel = KernelFor(FastestPath());
    std::vector<std::size_t> found;
    std::vector<std::size_t> others;  // with a witness: the signatures the tests reject
    // With a witness: the file offset below which every signature has been told.
    std::int64_t toldBelow = pendingStart;
    for (;;) {
        const std::size_t n = input.Read(reads, step);
        step = std::min(readSize, step * 2);
        ended = n == 0;
        std::uint8_t* const begin = reads - pending;
        const std::size_t available = pending + n;
        std::size_t at = 0;  // the next block's start within [begin, begin + available)
        // Most reads hold no candidate at all. One search over every position
        // whose whole window the read holds finds the first one there, if
        // any; the blocks that end before it (all of them below the first
        // position it left, when there is none) are passed over at once, by
        // the end rule below, and the rest go block by block.
        const std::size_t whole = available > kLookahead ? available - kLookahead : 0;
        found.clear();
        others.clear();
        const std::size_t examined =
            kernel.WholeWindowSteps(begin, whole, found, witness != nullptr && witness->OnOther ? &others : nullptr);
        // Tells the witness of the signatures the tests reject at positions
        // [toldBelow, `below`) of this read: the search below found those
        // whose whole window the read holds; the few after them are looked
        // for one by one (their windows reach the file's end).
        const auto tell = [&](std::size_t below) {
            if (witness == nullptr || !witness->OnOther) return;
            const std::int64_t told = toldBelow - pendingStart;
            const std::size_t from = told > 0 ? static_cast<std::size_t>(told) : 0;
            below = std::min(below, available);
            const auto other = [&](std::size_t i) {
                const std::span<const std::uint8_t> window(begin + i, std::min(kWindowSize, available - i));
                if (!IsCandidate(window)) witness->OnOther(pendingStart + static_cast<std::int64_t>(i), window);
            };
            for (const std::size_t i : others) {
                if (i >= from && i < below) other(i);
            }
            for (std::size_t i = NextSignature(begin, available, std::max(from, examined)); i < below;
                 i = NextSignature(begin, available, i + 1)) {
                other(i);
            }
            toldBelow = std::max(toldBelow, pendingStart + static_cast<std::int64_t>(below));
        };
        const std::size_t clearBelow = found.empty() ? examined : found.front();
        for (; at + kBlockSize <= clearBelow; at += kStride) {
            const std::int64_t blockEnd = pendingStart + static_cast<std::int64_t>(at + kBlockSize);
            if (size >= 0 && blockEnd >= size) {
                tell(available);
                return -1;
            }
        }
        for (;;) {
            const std::size_t left = available - at;
            if (!ended && left < kBlockWithLookahead) break;  // its look-ahead comes with the next read
            if (left == 0) {
                tell(available);
                return -1;
            }
            const std::size_t length = std::min(kBlockSize, left);
            const std::span<std::uint8_t> block(begin + at, std::min(left, kBlockWithLookahead));
            // What follows the block is in memory already: all of its
            // look-ahead, or all that the file has.
            const std::size_t following = block.size() - length;
            const LookaheadFetch inPlace = [following](std::span<std::uint8_t>) { return following; };
            const std::vector<std::size_t> inBlock = BlockCandidates(block, length, inPlace);
            if (!inBlock.empty()) {
                tell(at + length);
                if (witness != nullptr) witness->ReplacedCandidates = inBlock.size() - 1;
                return pendingStart + static_cast<std::int64_t>(at + inBlock.back());
            }

            // Only a full block can be followed by more of the file, and none
            // follows one that reaches `size`.
            const std::int64_t blockEnd = pendingStart + static_cast<std::int64_t>(at + length);
            if (length < kBlockSize || (size >= 0 && blockEnd >= size)) {
                tell(available);
                return -1;
            }
            at += kStride;
        }
        // Every position whose window this read holds lies in a block examined
        // or in the next one, which will be.
        tell(whole);
        pending = available - at;
        std::memmove(reads - pending, begin + at, pending);
        pendingStart += static_cast<std::int64_t>(at);
    }
}

void ForEachCandidate(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate) {
    ForEachCandidate(input, onCandidate, kSearchChunk);
}

void ForEachCandidate(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      std::size_t chunkSize) {
    ForEachSignature(input, onCandidate, nullptr, chunkSize);
}

void ForEachSignature(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      const std::function<void(std::int64_t, std::span<const std::uint8_t>)>& onOther) {
    ForEachSignature(input, onCandidate, onOther, kSearchChunk);
}

void ForEachSignature(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      const std::function<void(std::int64_t, std::span<const std::uint8_t>)>& onOther,
                      std::size_t chunkSize) {
    chunkSize = std::max<std::size_t>(chunkSize, 1);
    const std::size_t capacity = chunkSize + kLookahead;
    const support::AlignedBuffer storage = support::AllocateAligned(capacity);
    const std::span<std::uint8_t> buffer(storage.get(), capacity);
    const LookaheadFetch fetch = FetchFrom(input);
    for (;;) {
        const std::int64_t start = input.Position();
        const std::size_t n = input.Read(buffer.data(), chunkSize);
        if (n == 0) return;
        std::optional<std::size_t> fetched;  // the look-ahead, once read
        const LookaheadFetch fetchOnce = [&](std::span<std::uint8_t> out) {
            if (!fetched) fetched = fetch(out);
            return *fetched;
        };
        const std::vector<std::size_t> found = BlockCandidates(buffer, n, fetchOnce);
        if (found.empty() && !onOther) continue;
        const std::int64_t next = start + static_cast<std::int64_t>(n);
        if (!onOther) {
            for (const std::size_t i : found) onCandidate(start + static_cast<std::int64_t>(i));
        } else {
            // Every signature in the chunk, the candidates among them in turn.
            const std::size_t held = n + fetchOnce(buffer.subspan(n, kLookahead));
            auto candidate = found.begin();
            for (std::size_t i = NextSignature(buffer.data(), held, 0); i < n; i = NextSignature(buffer.data(), held, i + 1)) {
                for (; candidate != found.end() && *candidate < i; ++candidate) onCandidate(start + static_cast<std::int64_t>(*candidate));
                if (candidate != found.end() && *candidate == i) {
                    onCandidate(start + static_cast<std::int64_t>(i));
                    ++candidate;
                } else {
                    onOther(start + static_cast<std::int64_t>(i), buffer.subspan(i, std::min(kWindowSize, held - i)));
                }
            }
            for (; candidate != found.end(); ++candidate) onCandidate(start + static_cast<std::int64_t>(*candidate));
        }
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
    while ((size >> scale.Shift) > kLargest) scale.Shift += 10;
    return scale;
}

std::int32_t ProgressScale::Units(std::int64_t bytes) const noexcept {
    if (bytes <= 0) return 0;
    const std::int64_t units = bytes >> Shift;
    return static_cast<std::int32_t>(std::min<std::int64_t>(units, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace vexmira::locator
