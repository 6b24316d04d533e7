#pragma once
// The on-disk layout of a multi-file archive: an archive header, then entries
// (entry header, name, stored data) laid end to end to the end of the file.
// All integers are little-endian; there is no directory or trailer.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexmira::archive {

// "SPIS" followed by 0x1A opens every archive.
inline constexpr std::array<std::uint8_t, 5> ArchiveSignature = {'S', 'P', 'I', 'S', 0x1A};

inline constexpr int kArchiveHeaderSize = 21;          // 25 with the extension word
inline constexpr int kExtendedArchiveHeaderSize = 25;
inline constexpr int kEntryHeaderSize = 25;            // 33 with the two extension words
inline constexpr int kExtendedEntryHeaderSize = 33;
// The shortest stream worth examining: an archive header and one entry header.
inline constexpr int kMinimumArchiveLength = kArchiveHeaderSize + kEntryHeaderSize;

// Where each field of the archive header starts.
struct ArchiveHeaderField {
    static constexpr std::size_t kSignature = 0;      // 5 bytes
    static constexpr std::size_t kCompressID = 5;     // 3 letters
    static constexpr std::size_t kSizeValue = 8;      // low word, signed 32-bit
    static constexpr std::size_t kArchiveType = 12;   // 1 byte
    static constexpr std::size_t kLong13 = 13;        // opaque 32-bit
    static constexpr std::size_t kFlags = 17;         // 32-bit
    static constexpr std::size_t kSizeExtension = 21; // signed 32-bit, only with kExtensionFlag
};
static_assert(ArchiveHeaderField::kFlags + 4 == kArchiveHeaderSize);
static_assert(ArchiveHeaderField::kSizeExtension + 4 == kExtendedArchiveHeaderSize);

// Where each field of the entry header starts; the name follows the header.
struct EntryHeaderField {
    static constexpr std::size_t kNameLength = 0;               // signed 16-bit
    static constexpr std::size_t kLong2 = 2;                    // opaque 32-bit
    static constexpr std::size_t kWord6 = 6;                    // opaque 16-bit
    static constexpr std::size_t kFullSize = 8;                 // low word, signed 32-bit
    static constexpr std::size_t kCompressedSize = 12;          // low word, signed 32-bit
    static constexpr std::size_t kMethod = 16;                  // 1 byte
    static constexpr std::size_t kLong17 = 17;                  // opaque 32-bit
    static constexpr std::size_t kFlags = 21;                   // 32-bit
    static constexpr std::size_t kFullSizeExtension = 25;       // signed 32-bit, only with kExtensionFlag
    static constexpr std::size_t kCompressedSizeExtension = 29; // signed 32-bit, only with kExtensionFlag
};
static_assert(EntryHeaderField::kFlags + 4 == kEntryHeaderSize);
static_assert(EntryHeaderField::kCompressedSizeExtension + 4 == kExtendedEntryHeaderSize);

// Flags bit 7: extension word(s) follow. Entry Flags bits 0-6: locked.
inline constexpr std::uint32_t kExtensionFlag = 0x80;
inline constexpr std::uint32_t kLockMask = 0x7F;

// Sizes above this need the extension words, and entries at or below it must
// not carry them.
inline constexpr std::int64_t kLargestShortSize = 0x7FFFFFFF;

// An entry header's size, decided by the full size alone: the extension words
// are there exactly when it needs them.
constexpr int EntryHeaderSizeFor(std::int64_t fullSize) noexcept {
    return fullSize > kLargestShortSize ? kExtendedEntryHeaderSize : kEntryHeaderSize;
}

// A 64-bit size from its sign-extended low word and extension word; the
// extension word counts in units of 2^31, not 2^32. Cannot overflow: the
// result lies within +/-(2^62 + 2^31).
constexpr std::int64_t CompleteSize(std::int32_t low, std::int32_t extension) noexcept {
    return static_cast<std::int64_t>(low) + static_cast<std::int64_t>(extension) * (std::int64_t{1} << 31);
}

struct ArchiveHeader {
    std::array<std::uint8_t, 5> Signature{};
    std::array<char, 3> CompressID{};
    std::int64_t SizeValue = 0;  // completed; not used by the reader
    std::uint8_t ArchiveType = 0;  // 1 = multi-file (caMulti), the only type accepted
    std::uint32_t Long13 = 0;      // opaque
    std::uint32_t Flags = 0;
};

struct EntryHeader {
    std::int16_t NameLength = 0;  // negative makes the entry invalid
    std::uint32_t Long2 = 0;       // opaque, carried into the record
    std::uint16_t Word6 = 0;       // opaque, carried into the record
    std::int64_t FullSize = 0;        // completed
    std::int64_t CompressedSize = 0;  // completed; stored bytes after the name
    std::uint8_t Method = 0;       // numbered like CompressIDTable
    std::uint32_t Long17 = 0;      // opaque, carried into the record
    std::uint32_t Flags = 0;
};

}  // namespace vexmira::archive
