#include "listing/resume_token.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "archive/compress.hpp"
#include "archive/format.hpp"
#include "archive/plausibility.hpp"
#include "support/exception.hpp"
#include "support/path.hpp"

namespace vexmira::listing {

namespace {

// The layout, little-endian: the magic; ArchiveStart, StreamSize (8 each);
// the archive header's length (1) and bytes (25, zero after its length);
// LastHeaderOffset (8); the entry header's length (1) and bytes (33, zero
// after its length); the hash of the entry's name, Entries, TrailingEntries,
// LastGoodEnd (-1: none) (8 each); the flags (1); the checksum (8) over all
// before it and the listing's name.
constexpr std::string_view kMagic = "VXP2";
constexpr std::size_t kArchiveHeaderRoom = archive::kExtendedArchiveHeaderSize;
constexpr std::size_t kEntryHeaderRoom = archive::kExtendedEntryHeaderSize;
constexpr std::size_t kChecksumAt = kResumeTokenSize - 8;
static_assert(kChecksumAt ==
              kMagic.size() + 8 + 8 + 1 + kArchiveHeaderRoom + 8 + 1 + kEntryHeaderRoom + std::size_t{4} * 8 + 1);

constexpr std::uint8_t kSuspectSeen = 1;
constexpr std::uint8_t kLatin1Path = 2;
constexpr std::uint8_t kLocated = 4;
constexpr std::uint8_t kKnownFlags = kSuspectSeen | kLatin1Path | kLocated;

struct Fields {
    std::int64_t ArchiveStart = 0;
    std::int64_t StreamSize = 0;
    std::string ArchiveHeader;  // its bytes as the file holds them: 21 or 25
    std::int64_t LastHeaderOffset = 0;
    std::string EntryHeader;  // 25 or 33 bytes
    std::uint64_t NameHash = 0;
    std::uint64_t Entries = 0;
    std::uint64_t TrailingEntries = 0;
    std::int64_t LastGoodEnd = -1;  // -1: the first entry was suspect already
    std::uint8_t Flags = 0;
};

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = 0xcbf29ce484222325ULL) noexcept {
    for (const char c : bytes) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// Finds damage and a token given another name; anyone can recompute it.
std::uint64_t Checksum(std::string_view body, std::string_view file) noexcept {
    return Fnv1a(file, Fnv1a(std::string_view("\0", 1), Fnv1a(body)));
}

void Put64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutHeld(std::string& out, std::string_view bytes, std::size_t room) {
    out += static_cast<char>(bytes.size());
    out += bytes;
    out.append(room - bytes.size(), '\0');
}

std::string Serialize(const Fields& fields, const std::string& file) {
    std::string out(kMagic);
    Put64(out, static_cast<std::uint64_t>(fields.ArchiveStart));
    Put64(out, static_cast<std::uint64_t>(fields.StreamSize));
    PutHeld(out, fields.ArchiveHeader, kArchiveHeaderRoom);
    Put64(out, static_cast<std::uint64_t>(fields.LastHeaderOffset));
    PutHeld(out, fields.EntryHeader, kEntryHeaderRoom);
    Put64(out, fields.NameHash);
    Put64(out, fields.Entries);
    Put64(out, fields.TrailingEntries);
    Put64(out, static_cast<std::uint64_t>(fields.LastGoodEnd));
    out += static_cast<char>(fields.Flags);
    Put64(out, Checksum(out, file));
    return out;
}

[[noreturn]] void Damaged() { throw InvalidResumeToken("resume token is damaged or belongs to another file"); }

[[noreturn]] void Forged(std::string_view what) {
    throw InvalidResumeToken("resume token does not hold a listing of this file: " + std::string(what));
}

[[noreturn]] void OtherContent(std::string_view what, std::int64_t offset) {
    throw InvalidResumeToken("resume token was made for other content: the " + std::string(what) + " at offset " +
                             std::to_string(offset) + " differs");
}

std::uint64_t Load64(std::string_view bytes, std::size_t at) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value |= std::uint64_t{static_cast<std::uint8_t>(bytes[at + i])} << (8 * i);
    return value;
}

// Reads the fields in their order; the token's size was checked.
class Reader {
public:
    explicit Reader(std::string_view token) : token_(token), at_(kMagic.size()) {}
    std::uint64_t Next64() noexcept {
        const std::uint64_t value = Load64(token_, at_);
        at_ += 8;
        return value;
    }
    std::int64_t NextSigned() noexcept { return static_cast<std::int64_t>(Next64()); }
    std::uint8_t NextByte() noexcept { return static_cast<std::uint8_t>(token_[at_++]); }
    // A length, then `room` bytes of which that many count and the rest are zero.
    std::string NextHeld(std::size_t room) {
        const std::size_t length = NextByte();
        if (length > room) Damaged();
        const std::string_view held = token_.substr(at_, room);
        at_ += room;
        if (held.find_first_not_of('\0', length) != std::string_view::npos) Damaged();
        return std::string(held.substr(0, length));
    }

private:
    std::string_view token_;
    std::size_t at_;
};

Fields Parse(std::string_view token, const std::string& file) {
    if (token.size() != kResumeTokenSize || token.substr(0, kMagic.size()) != kMagic ||
        Checksum(token.substr(0, kChecksumAt), file) != Load64(token, kChecksumAt)) {
        Damaged();
    }
    Reader in(token);
    Fields fields;
    fields.ArchiveStart = in.NextSigned();
    fields.StreamSize = in.NextSigned();
    fields.ArchiveHeader = in.NextHeld(kArchiveHeaderRoom);
    fields.LastHeaderOffset = in.NextSigned();
    fields.EntryHeader = in.NextHeld(kEntryHeaderRoom);
    fields.NameHash = in.Next64();
    fields.Entries = in.Next64();
    fields.TrailingEntries = in.Next64();
    fields.LastGoodEnd = in.NextSigned();
    fields.Flags = in.NextByte();
    if ((fields.Flags & ~kKnownFlags) != 0) Damaged();
    return fields;
}

// `count` bytes of `input` from `offset`; fewer where the data ends.
std::string ReadAt(support::Stream& input, std::int64_t offset, std::size_t count) {
    if (input.Seek(offset, support::SeekOrigin::Beginning) != offset) return {};
    std::string bytes(count, '\0');
    bytes.resize(input.Read(bytes.data(), count));
    return bytes;
}

struct EntryAt {
    std::string Header;
    std::string Name;
    archive::TCompressedFileInfo Info;
};

// The entry whose header starts at `offset`, read as the walk reads it, or
// none where the walk would have ended there.
std::optional<EntryAt> ReadEntryAt(support::Stream& input, std::int64_t offset) {
    if (input.Seek(offset, support::SeekOrigin::Beginning) != offset) return std::nullopt;
    archive::TCompress reader;
    archive::EntryHeader header;
    EntryAt entry;
    if (!reader.ReadEntry(input, header, entry.Name)) return std::nullopt;
    entry.Info.FullSize = header.FullSize;
    entry.Info.CompressedSize = header.CompressedSize;
    entry.Info.Method = header.Method;
    entry.Info.HeaderOffset = offset;
    entry.Info.HeaderSize = archive::TCompress::EntryHeaderSize(header);
    entry.Header = ReadAt(input, offset, static_cast<std::size_t>(entry.Info.HeaderSize));
    return entry;
}

// Whether `count` entries fit from the one whose header is at `first` to the
// one whose header is at `last`: each takes an entry header at least.
bool EntriesFit(std::uint64_t count, std::int64_t first, std::int64_t last) noexcept {
    if (count == 0 || last < first) return false;
    if (count == 1) return last == first;
    return count - 1 <= static_cast<std::uint64_t>(last - first) / archive::kEntryHeaderSize;
}

// What PlausibleEnd learnt agrees with the entries: LastGoodEnd is where the
// first suspect entry starts (every entry ends where the next one starts),
// or the end of the last one while none was suspect.
bool PlausibleStateFits(const Fields& fields, std::int64_t headerEnd, std::int64_t nextHeader,
                        bool lastSuspect) noexcept {
    const bool suspectSeen = (fields.Flags & kSuspectSeen) != 0;
    if (!suspectSeen) return !lastSuspect && fields.TrailingEntries == 0 && fields.LastGoodEnd == nextHeader;
    if (fields.LastGoodEnd < 0) return fields.LastGoodEnd == -1 && fields.TrailingEntries == fields.Entries;
    if (fields.TrailingEntries == 0 || fields.TrailingEntries >= fields.Entries || fields.LastGoodEnd <= headerEnd) {
        return false;
    }
    const std::uint64_t good = fields.Entries - fields.TrailingEntries;
    return good <= static_cast<std::uint64_t>(fields.LastGoodEnd - headerEnd) / archive::kEntryHeaderSize &&
           EntriesFit(fields.TrailingEntries, fields.LastGoodEnd, fields.LastHeaderOffset);
}

bool SameCheckpoint(const ListingCheckpoint& a, const ListingCheckpoint& b) noexcept {
    const archive::WalkSummary& x = a.At.Walk;
    const archive::WalkSummary& y = b.At.Walk;
    return x.ArchiveStart == y.ArchiveStart && x.ArchiveEnd == y.ArchiveEnd && x.StreamSize == y.StreamSize &&
           x.HeaderEnd == y.HeaderEnd && x.End == y.End && a.At.NextHeader == b.At.NextHeader &&
           a.At.LastHeaderOffset == b.At.LastHeaderOffset && a.At.Over == b.At.Over &&
           a.Plausible.SuspectSeen == b.Plausible.SuspectSeen && a.Plausible.LastGoodEnd == b.Plausible.LastGoodEnd &&
           a.Plausible.TrailingEntries == b.Plausible.TrailingEntries && a.Entries == b.Entries &&
           a.PathEncoding == b.PathEncoding && a.Located == b.Located && a.Offset == b.Offset;
}

// What the two places of the file a token is bound to hold, and the
// checkpoint its fields describe, once checked against them and each other.
struct Binding {
    std::string ArchiveHeader;
    std::string EntryHeader;
    std::uint64_t NameHash = 0;
    ListingCheckpoint Checkpoint;
};

// Reads the archive header at ArchiveStart and the entry at LastHeaderOffset,
// each once, and checks the fields' offsets, counts and plausible state
// against them. With `compare`, the bytes the fields hold must be those read.
Binding Bind(const Fields& fields, const std::string& file, support::Stream& input, bool compare) {
    Binding bound;
    const std::int64_t size = input.Size();
    if (fields.StreamSize != size) {
        throw InvalidResumeToken("resume token is for a file of " + std::to_string(fields.StreamSize) + " bytes, not " +
                                 std::to_string(size));
    }
    const bool located = (fields.Flags & kLocated) != 0;
    // A walk begins only where a whole archive header and entry header fit.
    if (fields.ArchiveStart < 0 || size < archive::kMinimumArchiveLength ||
        fields.ArchiveStart > size - archive::kMinimumArchiveLength) {
        Forged("the archive starts outside it");
    }
    if (support::IsArcPath(file) && (located || fields.ArchiveStart != 0)) Forged("a .ARC file is listed from its start");

    bound.ArchiveHeader = ReadAt(input, fields.ArchiveStart, kArchiveHeaderRoom);
    archive::WalkPosition at;
    input.Seek(fields.ArchiveStart, support::SeekOrigin::Beginning);
    try {
        at = archive::TCompress().BeginWalk(input);
    } catch (const support::Exception&) {
        if (compare && !bound.ArchiveHeader.starts_with(fields.ArchiveHeader)) {
            OtherContent("archive header", fields.ArchiveStart);
        }
        Forged("no archive header where it starts");
    }
    const std::int64_t headerEnd = at.Walk.HeaderEnd;
    if (at.Over) Forged("no archive header where it starts");
    bound.ArchiveHeader.resize(static_cast<std::size_t>(headerEnd - fields.ArchiveStart));
    if (compare && bound.ArchiveHeader != fields.ArchiveHeader) OtherContent("archive header", fields.ArchiveStart);

    if (fields.LastHeaderOffset < headerEnd || fields.LastHeaderOffset >= size) {
        Forged("the entry lies outside the archive");
    }
    const std::optional<EntryAt> entry = ReadEntryAt(input, fields.LastHeaderOffset);
    if (entry) {
        bound.EntryHeader = entry->Header;
        bound.NameHash = Fnv1a(entry->Name);
    }
    if (compare && (!entry || bound.EntryHeader != fields.EntryHeader || bound.NameHash != fields.NameHash)) {
        OtherContent("entry header or name", fields.LastHeaderOffset);
    }
    // A walk that could not go on from that entry never paused after it.
    const std::optional<std::int64_t> nextHeader =
        entry ? archive::EntryEnd(entry->Name.size(), entry->Info) : std::nullopt;
    if (!nextHeader) Forged("no walk goes on from that entry");
    if (!EntriesFit(fields.Entries, headerEnd, fields.LastHeaderOffset)) Forged("the count of entries");
    const bool lastSuspect = archive::SuspectReason(entry->Name, entry->Info, size).has_value();
    if (!PlausibleStateFits(fields, headerEnd, *nextHeader, lastSuspect)) Forged("the plausible end");

    ListingCheckpoint& checkpoint = bound.Checkpoint;
    checkpoint.At = at;
    checkpoint.At.LastHeaderOffset = fields.LastHeaderOffset;
    checkpoint.At.NextHeader = *nextHeader;
    checkpoint.At.Walk.ArchiveEnd = *nextHeader;
    checkpoint.Plausible.SuspectSeen = (fields.Flags & kSuspectSeen) != 0;
    if (fields.LastGoodEnd >= 0) checkpoint.Plausible.LastGoodEnd = fields.LastGoodEnd;
    checkpoint.Plausible.TrailingEntries = fields.TrailingEntries;
    checkpoint.Entries = fields.Entries;
    checkpoint.PathEncoding = (fields.Flags & kLatin1Path) != 0 ? Encoding::Latin1 : Encoding::Utf8;
    checkpoint.Located = located;
    checkpoint.Offset = fields.ArchiveStart;
    return bound;
}

}  // namespace

std::string EncodeResumeToken(const ListingCheckpoint& at, const std::string& file, support::Stream& input) {
    Fields fields;
    fields.ArchiveStart = at.At.Walk.ArchiveStart;
    fields.StreamSize = at.At.Walk.StreamSize;
    fields.LastHeaderOffset = at.At.LastHeaderOffset;
    fields.Entries = at.Entries;
    fields.TrailingEntries = at.Plausible.TrailingEntries;
    fields.LastGoodEnd = at.Plausible.LastGoodEnd.value_or(-1);
    fields.Flags = static_cast<std::uint8_t>((at.Plausible.SuspectSeen ? kSuspectSeen : 0) |
                                             (at.PathEncoding == Encoding::Latin1 ? kLatin1Path : 0) |
                                             (at.Located ? kLocated : 0));
    // The checks a resume makes, made now: the bytes must still read as the
    // walk read them, and the token is one its decoder takes.
    try {
        Binding bound = Bind(fields, file, input, false);
        if (SameCheckpoint(bound.Checkpoint, at)) {
            fields.ArchiveHeader = std::move(bound.ArchiveHeader);
            fields.EntryHeader = std::move(bound.EntryHeader);
            fields.NameHash = bound.NameHash;
            return Serialize(fields, file);
        }
    } catch (const InvalidResumeToken&) {
    }
    throw support::EFOpenError("Cannot read file \"" + file + "\". It changed while it was listed");
}

ListingCheckpoint DecodeResumeToken(std::string_view token, const std::string& file, support::Stream& input) {
    return Bind(Parse(token, file), file, input, true).Checkpoint;
}

}  // namespace vexmira::listing
