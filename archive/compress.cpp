#include "archive/compress.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "support/file_stream.hpp"

namespace vexmira::archive {
namespace {

using support::SeekOrigin;
using support::Stream;

std::uint16_t LoadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t LoadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadU32(p)); }

constexpr std::size_t kLongestName = std::numeric_limits<std::int16_t>::max();

}  // namespace

TCompress::TCompress(support::Component* owner)
    : Component(owner),
      WorkStorage(std::make_unique<TCompThreadSafety>()),
      // Left uninitialised, as every name is written before it is read
      // (emscripten's libc++ has no make_unique_for_overwrite).
      name_scratch_(new char[kLongestName]) {}

TCompress::~TCompress() = default;

void TCompress::SetTargetPath(std::string value) {
    if (!value.empty() && value.back() != '\\') value += '\\';
    target_path_ = std::move(value);
}

void TCompress::ScanArchiveFile(const std::string& fileName, EntryList& list, WalkSummary* summary) {
    support::FileStream stream(fileName, support::FileMode::OpenReadExclusive);
    ScanArchiveStream(stream, list, summary);
}

void TCompress::ScanArchiveStream(Stream& stream, EntryList& list, WalkSummary* summary) {
    WalkArchiveStream(
        stream, [&list](std::string_view name, const TCompressedFileInfo& info) { list.Add(name, info); }, summary);
}

void TCompress::WalkArchiveStream(Stream& stream, const EntryVisitor& visit, WalkSummary* summary) {
    WalkPosition at = BeginWalk(stream);
    ContinueWalk(stream, at, [&visit](std::string_view name, const TCompressedFileInfo& info) {
        visit(name, info);
        return true;
    });
    if (summary) *summary = at.Walk;
}

WalkPosition TCompress::BeginWalk(Stream& stream) {
    WalkPosition at;
    WalkSummary& walk = at.Walk;
    walk.ArchiveStart = stream.Position();
    walk.StreamSize = stream.Size();
    walk.ArchiveEnd = walk.ArchiveStart;
    walk.HeaderEnd = walk.ArchiveStart;
    if (walk.StreamSize < walk.ArchiveStart || walk.StreamSize - walk.ArchiveStart < kMinimumArchiveLength) {
        walk.End = WalkEnd::TooShort;
        at.Over = true;
        return at;
    }
    ArchiveHeader archiveHeader;
    std::string identifier;
    PrepareArchiveHeader(stream, archiveHeader, identifier);
    walk.ArchiveEnd = stream.Position();
    walk.HeaderEnd = walk.ArchiveEnd;
    at.NextHeader = walk.ArchiveEnd;
    return at;
}

void TCompress::ContinueWalk(Stream& stream, WalkPosition& at, const PausingVisitor& visit) {
    WalkSummary& walk = at.Walk;
    if (at.Over) return;
    if (stream.Seek(at.NextHeader, SeekOrigin::Beginning) != at.NextHeader) {
        walk.End = WalkEnd::SeekFailed;
        at.Over = true;
        return;
    }
    EntryHeader header;
    std::string_view name;
    for (;;) {
        const std::int64_t headerStart = stream.Position();
        if (const std::optional<WalkEnd> end = ReadEntryChecked(stream, header, name)) {
            walk.End = headerStart == walk.StreamSize ? WalkEnd::EndOfData
                       : headerStart > walk.StreamSize ? WalkEnd::PastEnd
                                                       : *end;
            // The last entry's data runs past the end: the archive is whole only up to its header.
            if (walk.End == WalkEnd::PastEnd && at.LastHeaderOffset >= 0) walk.ArchiveEnd = at.LastHeaderOffset;
            at.Over = true;
            return;
        }
        TCompressedFileInfo info;
        info.Long2 = header.Long2;
        info.Word6 = header.Word6;
        info.FullSize = header.FullSize;
        info.CompressedSize = header.CompressedSize;
        info.Method = header.Method;
        info.Long17 = header.Long17;
        info.HeaderSize = EntryHeaderSize(header);
        info.HeaderOffset = stream.Position() - info.HeaderSize - header.NameLength;
        info.Locked = (header.Flags & kLockMask) != 0;
        at.LastHeaderOffset = info.HeaderOffset;
        const bool goOn = visit(name, info);

        // A negative size would walk backwards over headers already read: end here.
        if (header.CompressedSize < 0) {
            walk.ArchiveEnd = stream.Position();
            walk.End = WalkEnd::NegativeSize;
            at.Over = true;
            return;
        }
        const std::int64_t next = stream.Seek(header.CompressedSize, SeekOrigin::Current);
        if (next < 0) {
            walk.ArchiveEnd = stream.Position();
            walk.End = WalkEnd::SeekFailed;
            at.Over = true;
            return;
        }
        walk.ArchiveEnd = next;
        at.NextHeader = next;
        if (!goOn) return;
    }
}

void TCompress::PrepareArchiveHeader(Stream& stream, ArchiveHeader& header, std::string& identifier) {
    ReadArchiveHeader(stream, header);
    identifier.assign(header.CompressID.begin(), header.CompressID.end());
    if (const std::optional<Refusal> refusal = RefusalOf(header, identifier)) {
        switch (*refusal) {
            case Refusal::Signature: throw EInvalidHeader();
            case Refusal::ArchiveType: throw EInvalidHeaderArchiveType();
            case Refusal::CompressionMethod: throw EUnrecognizedCompressionMethod(identifier);
        }
    }
}

std::optional<TCompress::Refusal> TCompress::RefusalOf(const ArchiveHeader& header, const std::string& identifier) {
    if (header.Signature != ArchiveSignature) return Refusal::Signature;
    if (header.ArchiveType != 1) return Refusal::ArchiveType;
    if (!Recognizes(identifier)) return Refusal::CompressionMethod;
    return std::nullopt;
}

int TCompress::ReadArchiveHeader(Stream& stream, ArchiveHeader& header) {
    // Signature and identifier together, then the fixed fields, then the
    // extension word if Flags asks for it. Fields the data does not reach stay as they were.
    using Field = ArchiveHeaderField;
    std::uint8_t bytes[kExtendedArchiveHeaderSize] = {};
    std::size_t count = stream.Read(bytes, kArchiveHeaderSize);
    const auto reaches = [&count](std::size_t field, std::size_t size) { return count >= field + size; };
    if (reaches(Field::kSignature, 5)) std::copy_n(bytes + Field::kSignature, 5, header.Signature.begin());
    if (reaches(Field::kCompressID, 3)) std::copy_n(bytes + Field::kCompressID, 3, header.CompressID.begin());
    std::int32_t sizeLow = static_cast<std::int32_t>(header.SizeValue);
    if (reaches(Field::kSizeValue, 4)) sizeLow = LoadI32(bytes + Field::kSizeValue);
    if (reaches(Field::kArchiveType, 1)) header.ArchiveType = bytes[Field::kArchiveType];
    if (reaches(Field::kLong13, 4)) header.Long13 = LoadU32(bytes + Field::kLong13);
    if (reaches(Field::kFlags, 1)) header.Flags = LoadU32(bytes + Field::kFlags);  // bit 7 lies in the first byte
    std::int32_t sizeExtension = 0;
    if (count == kArchiveHeaderSize && (header.Flags & kExtensionFlag) != 0) {
        const std::size_t extra = stream.Read(bytes + Field::kSizeExtension, 4);
        if (extra == 4) sizeExtension = LoadI32(bytes + Field::kSizeExtension);
        count += extra;
    }
    header.SizeValue = CompleteSize(sizeLow, sizeExtension);
    return static_cast<int>(count);
}

int TCompress::ReadEntryHeader(Stream& stream, EntryHeader& header) {
    using Field = EntryHeaderField;
    std::uint8_t bytes[kExtendedEntryHeaderSize];
    std::size_t count = stream.Read(bytes, kEntryHeaderSize);
    if (count < kEntryHeaderSize) return static_cast<int>(count);  // cut short: never a valid entry
    header.NameLength = static_cast<std::int16_t>(LoadU16(bytes + Field::kNameLength));
    header.Long2 = LoadU32(bytes + Field::kLong2);
    header.Word6 = LoadU16(bytes + Field::kWord6);
    const std::int32_t fullLow = LoadI32(bytes + Field::kFullSize);
    const std::int32_t storedLow = LoadI32(bytes + Field::kCompressedSize);
    header.Method = bytes[Field::kMethod];
    header.Long17 = LoadU32(bytes + Field::kLong17);
    header.Flags = LoadU32(bytes + Field::kFlags);
    std::int32_t fullExtension = 0;
    std::int32_t storedExtension = 0;
    if ((header.Flags & kExtensionFlag) != 0) {
        const std::size_t extra = stream.Read(bytes + kEntryHeaderSize, kExtendedEntryHeaderSize - kEntryHeaderSize);
        count += extra;
        if (count == kExtendedEntryHeaderSize) {
            fullExtension = LoadI32(bytes + Field::kFullSizeExtension);
            storedExtension = LoadI32(bytes + Field::kCompressedSizeExtension);
        }
    }
    header.FullSize = CompleteSize(fullLow, fullExtension);
    header.CompressedSize = CompleteSize(storedLow, storedExtension);
    return static_cast<int>(count);
}

int TCompress::EntryHeaderSize(const EntryHeader& header) noexcept { return EntryHeaderSizeFor(header.FullSize); }

std::optional<std::int64_t> EntryDataStart(const TCompressedFileInfo& info, std::size_t nameLength) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t header = EntryHeaderSizeFor(info.FullSize);
    const auto name = static_cast<std::int64_t>(nameLength);
    if (info.HeaderOffset > kMax - header - name) return std::nullopt;
    return info.HeaderOffset + header + name;
}

bool TCompress::ReadEntry(Stream& stream, EntryHeader& header, std::string& name) {
    std::string_view read;
    if (ReadEntryChecked(stream, header, read)) return false;
    name.assign(read);
    return true;
}

// The name is returned as a view of the scratch buffer, valid until the next call.
std::optional<WalkEnd> TCompress::ReadEntryChecked(Stream& stream, EntryHeader& header, std::string_view& name) {
    const int count = ReadEntryHeader(stream, header);
    const bool extended = count >= kEntryHeaderSize && (header.Flags & kExtensionFlag) != 0;
    if (count < (extended ? kExtendedEntryHeaderSize : kEntryHeaderSize)) return WalkEnd::Incomplete;
    if (count != EntryHeaderSize(header)) return WalkEnd::Invalid;
    if (header.NameLength < 0) return WalkEnd::Invalid;
    const auto length = static_cast<std::size_t>(header.NameLength);
    const std::size_t got = stream.Read(name_scratch_.get(), length);
    if (got != length) return WalkEnd::Incomplete;
    name = std::string_view(name_scratch_.get(), length);
    return std::nullopt;
}

int TCompress::RecognizeCompressID(const std::string& identifier) {
    for (std::size_t i = 0; i < CompressIDTable.size(); ++i) {
        if (identifier == CompressIDTable[i]) return static_cast<int>(i);
    }
    if (!Recognizes(identifier)) throw EUnrecognizedCompressionMethod(identifier);
    return kCustomCompressIndex;
}

bool TCompress::Recognizes(const std::string& identifier) {
    if (std::find(CompressIDTable.begin(), CompressIDTable.end(), identifier) != CompressIDTable.end()) return true;
    bool recognized = false;
    if (OnRecognize) OnRecognize(identifier, recognized);
    return recognized;
}

void TCompress::FreeFileList(EntryList* list) noexcept {
    if (list != nullptr) list->Clear();
}

}  // namespace vexmira::archive
