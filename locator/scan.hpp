#pragma once
// The locator's decisions as plain functions: which positions are candidates,
// which candidate the block scan picks, and the texts and progress values the
// display is given. Rip_ARC_Archive and the command-line tool share them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/stream.hpp"

namespace vexmira::locator {

// The locator's own copy of the archive signature, "SPIS" + 0x1A.
inline constexpr std::array<std::uint8_t, 5> kSignature = {'S', 'P', 'I', 'S', 0x1A};

inline constexpr std::size_t kBlockSize = 4096;
// The next block starts this many bytes before the end of the previous one.
inline constexpr std::size_t kBlockOverlap = 64;
// The tests look at bytes 0 to 57 from a position.
inline constexpr std::size_t kWindowSize = 58;
// The most bytes past a block's end that its last positions need.
inline constexpr std::size_t kLookahead = kWindowSize - 1;

// The bytes the tests look at, besides the signature: the identifier's first
// letter right after it, and the 11th and 12th letters of the first entry's
// name in an archive whose header and first entry header both come without
// extension words.
inline constexpr std::size_t kIdentifierAt = kSignature.size();
inline constexpr std::size_t kNotGAt = 56;
inline constexpr std::size_t kNotPAt = 57;
static_assert(kWindowSize == kNotPAt + 1);

// The identifier letters the second test lets through.
constexpr bool IsIdentifierStart(std::uint8_t byte) noexcept { return byte == 'L' || byte == 'N' || byte == 'R'; }

// Which of the tests after the signature's rejects the position whose bytes
// `window` holds (kWindowSize, fewer at the end of the file), in the words
// --all shows: "XYZ identifier", "G at byte 56" or "P at byte 57"; none when
// they all pass (or lack the bytes to reject it). The signature itself is the
// caller's to have checked.
std::optional<std::string> RuleRejection(std::span<const std::uint8_t> window);

// True when the bytes seen so far from a position do not rule it out: those of
// the signature match, byte 5 is 'L', 'N' or 'R', byte 56 is not 'G' and byte
// 57 is not 'P'. Bytes not (yet) present rule nothing out.
bool MatchesSoFar(std::span<const std::uint8_t> bytes) noexcept;

// The candidate tests on the file's bytes from a position: `bytes` holds
// kWindowSize bytes, or all that the file has from there when it ends sooner.
//
// Near the end of the file: the signature and byte 5 must exist (a missing
// byte fails those tests), but a missing byte 56 or 57 rejects nothing, since
// only a byte that is there can be 'G' or 'P'. So a position with 6 to 57
// bytes left can be a candidate; a real archive that short (header, one entry
// with a short name) lists normally, and a shorter fragment lists as empty.
bool IsCandidate(std::span<const std::uint8_t> bytes) noexcept;

// Index of the first position in [from, length - 4) where the whole
// signature starts, or length when there is none, for searches that want
// every signature, not only candidates; on the fastest path or a given one
// (declared below), every path giving the same answer.
std::size_t NextSignature(const std::uint8_t* data, std::size_t length, std::size_t from) noexcept;

// How the search runs the tests: position by position, or 16 (SSE2) or 32
// (AVX2) positions at a time. Every path finds the same candidates.
enum class SearchPath { Portable, Sse2, Avx2 };

// The paths this build and this processor can run, the fastest last; the
// scans use the last.
std::span<const SearchPath> SearchPaths() noexcept;

std::size_t NextSignature(const std::uint8_t* data, std::size_t length, std::size_t from, SearchPath path) noexcept;

// Fills `out` with the file's bytes that follow a block (fewer at the end of
// the file) and returns the count.
using LookaheadFetch = std::function<std::size_t(std::span<std::uint8_t> out)>;

// The candidates among positions [0, length) of a block, in increasing order.
// `buffer` holds the block in its first `length` bytes and has room for
// kLookahead more; `fetch` fills that room at most once, and only when a
// position near the block's end still matches on the bytes it has.
std::vector<std::size_t> BlockCandidates(std::span<std::uint8_t> buffer, std::size_t length,
                                         const LookaheadFetch& fetch);
// The same on a given path (one of SearchPaths(); any other runs the portable one).
std::vector<std::size_t> BlockCandidates(std::span<std::uint8_t> buffer, std::size_t length,
                                         const LookaheadFetch& fetch, SearchPath path);

// The block scan: reads kBlockSize-byte blocks from the stream's position,
// each next one starting kBlockOverlap bytes before the previous one's end
// unless that read reached `size` (-1 when unknown). Returns the offset of the
// last candidate in the first block that holds one, or -1.
std::int64_t FindArchive(support::Stream& input, std::int64_t size);
// The most bytes the block scan reads at a time (the first reads are smaller).
inline constexpr std::size_t kScanReadSize = std::size_t{1} << 20;
// The same reading `readSize` bytes at a time (the winner never depends on it).
std::int64_t FindArchive(support::Stream& input, std::int64_t size, std::size_t readSize);

// Calls onCandidate with every candidate from the stream's position to its
// end, in increasing order, each once. The callback may move the stream; the
// scan puts it back.
void ForEachCandidate(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate);
// The same reading `chunkSize` bytes at a time (what is found never depends on it).
void ForEachCandidate(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      std::size_t chunkSize);

// The same, and also onOther with every other position where the whole
// signature starts, and the bytes from there the tests look at (kWindowSize,
// fewer at the end of the file; valid during the call only): one read of the
// file for both, every position in increasing order, each once.
void ForEachSignature(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      const std::function<void(std::int64_t, std::span<const std::uint8_t>)>& onOther,
                      std::size_t chunkSize);
void ForEachSignature(support::Stream& input, const std::function<void(std::int64_t)>& onCandidate,
                      const std::function<void(std::int64_t, std::span<const std::uint8_t>)>& onOther);

// At least eight upper-case hex digits: 1023 is "000003FF".
std::string OffsetHex(std::int64_t offset);

// The offset label: at least eight upper-case hex digits, " - ", the offset
// div 1024, " Kb". 1023 shows "000003FF - 0 Kb".
std::string OffsetText(std::int64_t offset);

// Progress values for the display's 32-bit bar: bytes as they are for inputs
// below 2 GiB, else in KiB (or coarser), so the bar still runs empty to full.
struct ProgressScale {
    int Shift = 0;  // progress value = bytes >> Shift

    static ProgressScale For(std::int64_t size) noexcept;
    std::int32_t Units(std::int64_t bytes) const noexcept;
};

}  // namespace vexmira::locator
