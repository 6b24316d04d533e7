#pragma once
// TCompress: validates an archive header and walks the entry headers into a
// list of names with records. Headers only; nothing is ever decompressed.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/format.hpp"
#include "support/component.hpp"
#include "support/exception.hpp"
#include "support/stream.hpp"

namespace vexmira::archive {

class EInvalidHeader : public support::Exception {
public:
    EInvalidHeader() : Exception(support::ErrorKind::InvalidHeader, "Can't recognize compressed file header") {}
};

class EInvalidHeaderArchiveType : public support::Exception {
public:
    EInvalidHeaderArchiveType() : Exception(support::ErrorKind::ArchiveType, "Archive type must be caMulti") {}
};

class EUnrecognizedCompressionMethod : public support::Exception {
public:
    explicit EUnrecognizedCompressionMethod(std::string_view compressId)
        : Exception(support::ErrorKind::CompressionMethod, "Unrecognized compression method: \"" + std::string(compressId) + "\" in header") {}
};

// One per listed entry.
struct TCompressedFileInfo {
    std::uint32_t Long2 = 0;
    std::uint16_t Word6 = 0;
    std::int64_t FullSize = 0;
    std::int64_t CompressedSize = 0;
    std::uint8_t Method = 0;
    std::uint32_t Long17 = 0;
    std::int64_t HeaderOffset = 0;  // stream offset of the entry header
    std::int32_t HeaderSize = 25;   // 25, or 33 with the size extension; the name follows
    bool Locked = false;            // entry Flags & 0x7F non-zero
};

// Where an entry's stored bytes start: after its header and its name of
// `nameLength` bytes. None when that lies past 64 bits.
std::optional<std::int64_t> EntryDataStart(const TCompressedFileInfo& info, std::size_t nameLength) noexcept;

// Entry names in archive order, each with the record it owns. Duplicate names
// all appear. Names are kept back to back in one buffer, so listing a million
// entries costs no allocation per entry; a view from Name() lasts until the
// next Add or Clear.
class EntryList {
public:
    void Add(std::string_view name, const TCompressedFileInfo& info) {
        items_.push_back({names_.size(), name.size(), info});
        names_.append(name);
    }
    std::size_t Count() const noexcept { return items_.size(); }
    bool Empty() const noexcept { return items_.empty(); }
    // Exactly as stored, 8-bit.
    std::string_view Name(std::size_t index) const {
        const Item& item = items_.at(index);
        return std::string_view(names_).substr(item.NameOffset, item.NameLength);
    }
    const TCompressedFileInfo& Info(std::size_t index) const { return items_.at(index).Info; }
    void Clear() noexcept {
        items_.clear();
        names_.clear();
    }

private:
    struct Item {
        std::size_t NameOffset;
        std::size_t NameLength;
        TCompressedFileInfo Info;
    };
    std::vector<Item> items_;
    std::string names_;
};

enum class TCProcessMode { cmCompress, cmExpand, cmDelete };

// Callback types; parameters passed by reference are the ones a callback may change.
using TCompressEvent = std::function<void(support::Stream& dest, support::Stream& source, std::string& CompressID,
                                          std::int64_t& Outputsize, std::int32_t& checksum)>;
using TExpandEvent = std::function<void(support::Stream& dest, support::Stream& source, std::int64_t Sourcesize,
                                        std::int64_t Destsize, const std::string& CompressID, std::int32_t& checksum)>;
using TFilenameCheckEvent = std::function<void(std::string& filepath, TCProcessMode mode)>;
using TRecognizeEvent = std::function<void(const std::string& CompressID, bool& recognized)>;
using TShowProgressEvent = std::function<void(std::int32_t& PercentageDone)>;

// Method identifiers, indexed like an entry's Method byte. Slot 3 ("CUS") is
// also what a callback-recognised identifier maps to.
inline constexpr std::array<std::string_view, 5> CompressIDTable = {"NON", "RLE", "LZH", "CUS", "LH5"};
inline constexpr int kCustomCompressIndex = 3;

// Why a walk ended; beyond what the dialog shows, for tools that report it.
enum class WalkEnd {
    TooShort,        // fewer than 46 bytes: nothing examined
    EndOfData,       // the next entry header would start exactly at the end
    Incomplete,      // an entry header or name was cut short by the end of the data
    Invalid,         // header size does not match FullSize, or negative NameLength
    NegativeSize,    // CompressedSize < 0 would move the walk backwards
    SeekFailed,      // the next header offset does not fit in 64 bits
    PastEnd,         // the last entry's stored data runs past the end of the data
};

struct WalkSummary {
    std::int64_t ArchiveStart = 0;  // stream position the scan started at
    // Just past the last entry that is whole, stored data included. An entry
    // whose data runs past the end is listed but not whole: the end is its header.
    std::int64_t ArchiveEnd = 0;
    std::int64_t StreamSize = 0;
    // Just past the archive header (21 or 25 bytes); ArchiveStart when the
    // stream was too short to examine.
    std::int64_t HeaderEnd = 0;
    WalkEnd End = WalkEnd::TooShort;

    // Cut short: the walk stopped at something the end of the data truncated.
    bool Truncated() const noexcept { return End == WalkEnd::Incomplete || End == WalkEnd::PastEnd; }
    std::int64_t TrailingBytes() const noexcept { return ArchiveEnd < StreamSize ? StreamSize - ArchiveEnd : 0; }
};

// Where a walk stands between two entries: enough to go on with it later,
// from a stream over the same bytes, without reading what came before.
struct WalkPosition {
    WalkSummary Walk;                   // so far; End is final once Over
    std::int64_t NextHeader = 0;        // where the next entry header starts
    std::int64_t LastHeaderOffset = -1; // none listed yet
    bool Over = false;                  // the walk has ended (Walk.End says why)
};

// Opaque working storage the component keeps for its lifetime.
class TCompThreadSafety {};

class TCompress : public support::Component {
public:
    explicit TCompress(support::Component* owner = nullptr);
    ~TCompress() override;

    TCompressEvent OnCompress;           // never invoked here
    TExpandEvent OnExpand;               // never invoked here
    TFilenameCheckEvent OnCheckFile;     // never invoked here
    TRecognizeEvent OnRecognize;         // consulted for identifiers not in the table
    TShowProgressEvent OnShowProgress;   // never invoked here
    bool MakeDirectories = false;        // stored only
    bool ExceptionOnFileError = false;   // stored only
    std::int32_t Key = 0;                // stored only
    bool CheckSpaceBeforeExpand = false; // stored only

    const std::string& TargetPath() const noexcept { return target_path_; }
    // Non-empty values get a trailing '\' when they lack one.
    void SetTargetPath(std::string value);

    // Opens the file read-only without sharing, appends its entries, closes it.
    void ScanArchiveFile(const std::string& fileName, EntryList& list, WalkSummary* summary = nullptr);
    // Appends the entries found from the stream's current position. Header
    // errors raise before anything is appended; anything incomplete ends the
    // walk quietly and keeps what was found.
    void ScanArchiveStream(support::Stream& stream, EntryList& list, WalkSummary* summary = nullptr);
    // The same walk, handing each entry over as it is read instead of keeping
    // it: memory stays flat however many entries there are. The name is valid
    // during the call only. Whatever the visitor raises ends the walk.
    using EntryVisitor = std::function<void(std::string_view name, const TCompressedFileInfo& info)>;
    void WalkArchiveStream(support::Stream& stream, const EntryVisitor& visit, WalkSummary* summary = nullptr);
    // The same walk in steps: BeginWalk reads the archive header at the
    // stream's position (raising its errors), ContinueWalk visits entries
    // from `at` until the walk ends or the visitor returns false, which
    // pauses it after that entry. `at` then holds where the walk stands.
    using PausingVisitor = std::function<bool(std::string_view name, const TCompressedFileInfo& info)>;
    WalkPosition BeginWalk(support::Stream& stream);
    void ContinueWalk(support::Stream& stream, WalkPosition& at, const PausingVisitor& visit);

    void PrepareArchiveHeader(support::Stream& stream, ArchiveHeader& header, std::string& identifier);
    // Why PrepareArchiveHeader refuses a header it read, if it does, without
    // raising: for scans that meet a refused header every few bytes.
    enum class Refusal { Signature, ArchiveType, CompressionMethod };
    std::optional<Refusal> RefusalOf(const ArchiveHeader& header, const std::string& identifier);
    int ReadArchiveHeader(support::Stream& stream, ArchiveHeader& header);
    bool ReadEntry(support::Stream& stream, EntryHeader& header, std::string& name);
    int ReadEntryHeader(support::Stream& stream, EntryHeader& header);
    static int EntryHeaderSize(const EntryHeader& header) noexcept;
    int RecognizeCompressID(const std::string& identifier);
    static void FreeFileList(EntryList* list) noexcept;

private:
    // The identifier is in the table, or the callback recognises it.
    bool Recognizes(const std::string& identifier);
    // Empty when a valid entry header and its whole name were read; otherwise why not.
    std::optional<WalkEnd> ReadEntryChecked(support::Stream& stream, EntryHeader& header, std::string_view& name);

    std::string target_path_;
    std::unique_ptr<TCompThreadSafety> WorkStorage;
    // Names are read here first, so a NameLength larger than the data left
    // never sizes an allocation.
    std::unique_ptr<char[]> name_scratch_;
};

}  // namespace vexmira::archive
