#pragma once
// The layout of the file stream fuzzer's input, shared with the seed maker.
//
//   flags          U8: bit 0 kReadWrite, size class in bits 1-2
//   content seed   U8: where in the content table the file's bytes start
//   read-ahead     U16 n: the file stream reads ahead at most kMinReadAhead + n * 4 bytes
//                  (the limit; its own is 1 MiB, but a small one brings the limit's edges
//                  within small files, where an input costs little)
//   size           per SizeClass
//   ops...         an op byte (Op, by value % kOpCount), then its operands, until the input ends
//
// An offset operand is a U8 choice (Offset, by value % kOffsetCount) and that
// choice's operands.

#include <cstddef>
#include <cstdint>

namespace vexmira::fuzz::stream_script {

inline constexpr std::uint8_t kReadWrite = 1;  // a created stream, written to as well as read
inline constexpr int kSizeClassShift = 1;

enum class SizeClass : std::uint8_t {
    Tiny,       // U8
    Small,      // U16
    ReadAhead,  // limit - 8192 (or 0) + U16 % 16384: around the largest read-ahead
    Large,      // 2 * limit + (U16 * 16) % limit
};

enum class Op : std::uint8_t {
    ReadSmall,      // U8 count
    ReadMedium,     // U16 count
    ReadEdge,       // U8 picks a size near the read-ahead's (its least, its limit...), I8 added
    SeekBeginning,  // offset
    SeekCurrent,    // offset
    Size,
    Write,          // U8 count, then the bytes (read-write streams only)
    ShortReads,     // U8: the next (n & 15) system reads deliver at most kShortCaps[n >> 4 & 7] bytes
    Grow,           // U8 n: n * 64 bytes are appended to the file behind the stream's back
                    // (read-only streams only: they end where the file ended when opened)
};
inline constexpr std::uint8_t kOpCount = 9;

enum class Offset : std::uint8_t {
    Small,           // U16
    BeforeEnd,       // U8 d: size - d
    AfterEnd,        // U8 d: size + d
    Negative,        // U8 d: -1 - d
    Largest,         // U8 d: INT64_MAX - d
    Smallest,        // U8 d: INT64_MIN + d
    BackToStart,     // I8 d: -position + d
    Far,             // U32
    Blocks,          // I8 k: k * 4096
    Megabytes,       // I8 k: k * 65536
    AroundEndAhead,  // I8 d: size - position + d
};
inline constexpr std::uint8_t kOffsetCount = 11;

// System read caps for Op::ShortReads; 0 means the read is interrupted (EINTR) once.
inline constexpr std::size_t kShortCaps[] = {0, 1, 7, 100, 4095, 4097, 65537, 1000003};

inline constexpr std::uint8_t Flags(SizeClass size, std::uint8_t flags = 0) {
    return static_cast<std::uint8_t>(flags | (static_cast<std::uint8_t>(size) << kSizeClassShift));
}

}  // namespace vexmira::fuzz::stream_script
