#pragma once
// The layout of the locator fuzzer's input, shared with the seed maker.
//
//   flags                  U8: Flag bits, size class in bits 4-5
//   start                  U16, only with kStartOffset: where the scans begin
//   pair slice             U16 offset, U16 length, U8 misalignment (the pair search's own check)
//   block                  U8 block index, I8 shift, U16 length, U8 room, U8 fetch limit
//   chunk                  U8 c: the whole-file search and the first block scan read
//                          (c + 1) * kChunkStep bytes at a time, and so far the real file reads ahead
//   size                   per SizeClass (not in raw mode)
//   filler                 U8 length (1 + n % 4), then that many pattern bytes (not in raw mode)
//   pieces...              until the input ends (raw mode: the rest is the file itself)
//
// A piece is an op byte (bits 0-2 Piece, bits 3-5 Anchor, bits 6-7 extra),
// the anchor's operands, then the piece's operands.

#include <cstddef>
#include <cstdint>

namespace vexmira::fuzz::locator_script {

enum Flag : std::uint8_t {
    kAlsoFileStream = 1,   // run the scans over a real file too
    kRaw = 2,              // the file is the rest of the input, verbatim
    kStartOffset = 4,      // the scans start at a given position, not 0
    kMoveInCallback = 8,   // the whole-file search's callback moves the stream
    kGrowFile = 64,        // the real file grows once open and in the first callbacks: not followed
};
inline constexpr int kSizeClassShift = 4;

enum class SizeClass : std::uint8_t {
    Tiny,    // U8
    Small,   // U16 % 12289: up to three blocks
    Blocks,  // U16
    Chunk,   // chunk - 8192 (or 0) + U16 % 16384: across the whole-file search's chunk edge
};

// Where a piece goes: a base position plus the anchor's operands.
enum class Anchor : std::uint8_t {
    BlockEnd,        // U8 k, I8 d: k * 4032 + 4096 + d (d in -64..-1 lies in the overlap)
    BlockStart,      // U8 k, I8 d: k * 4032 + d
    FileEnd,         // U8 d: size - d
    ChunkEdge,       // I8 d: chunk + d
    Absolute,        // U16 p
    AfterPrevious,   // U8 d: the previous signature piece + d
    PreviousPlus56,  // the previous signature piece + 56
    PreviousPlus57,  // the previous signature piece + 57
};

enum class Piece : std::uint8_t {
    Candidate,        // U8 letter choice; extra bit 0 puts 'G' at +56, bit 1 'P' at +57
    SignaturePrefix,  // U8: 1 + n % 5 bytes of the signature
    Byte,             // U8 value
    Raw,              // U8 length (n % 64), then the bytes
    Run,              // U8 length; extra picks "SP", "S", "SPIS\x1A" or "SPIS\x1AL" repeated
};
inline constexpr std::uint8_t kPieceCount = 5;

inline constexpr std::size_t kBlockStep = 4096 - 64;
// The step of the chunks an input picks. The scans' own chunk is 1 MiB, but
// what they find does not depend on it: small chunks put their edges in small
// files, where an input costs little (a megabyte file makes a run 20 times slower).
inline constexpr std::size_t kChunkStep = 521;

// Letters the Candidate piece puts after the signature, by U8 % 8.
inline constexpr char kLetters[] = "LNRLNRCZ";

inline constexpr std::uint8_t Op(Piece piece, Anchor anchor, std::uint8_t extra = 0) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(piece) | (static_cast<std::uint8_t>(anchor) << 3) |
                                     (extra << 6));
}

inline constexpr std::uint8_t Flags(SizeClass size, std::uint8_t flags = 0) {
    return static_cast<std::uint8_t>(flags | (static_cast<std::uint8_t>(size) << kSizeClassShift));
}

}  // namespace vexmira::fuzz::locator_script
