#pragma once
// What the tool finds for one FILE, decided the way the dialog decides it,
// and handed over as it is found: a listing's head, its entries one by one,
// and its end. Nothing here grows with the number of entries.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/compress.hpp"
#include "archive/plausibility.hpp"
#include "listing/encoding.hpp"
#include "listing/entry_data.hpp"
#include "listing/plan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/output_files.hpp"

namespace vexmira::listing {

// Ordered by severity: a run's exit status is the worst outcome it saw.
enum class Outcome {
    Listed = 0,    // an archive was listed (an empty listing counts)
    NotFound = 1,  // the locator found no archive
    Failed = 2,    // open, create, write or header error, out of memory
};

// A message or error, and what it is about: an error raised as an
// exception keeps that exception's kind. Its bytes come from the file system
// (paths, the system's reasons), read like the listing's path, or, for an
// unknown compression method, from an archive's own bytes (the header's
// identifier), read as Latin-1.
struct Text {
    std::string Bytes;
    support::ErrorKind Kind = support::ErrorKind::Other;

    bool FromArchive() const noexcept { return Kind == support::ErrorKind::CompressionMethod; }
    // A header the reader refuses: what was listed is not an archive.
    bool NotAnArchive() const noexcept {
        return Kind == support::ErrorKind::InvalidHeader || Kind == support::ErrorKind::ArchiveType ||
               Kind == support::ErrorKind::CompressionMethod;
    }
    // Not the listing's own: the file could not be read, or memory ran out.
    // A caller that gathers many listings of one file stops at it.
    bool EndsTheFile() const noexcept {
        return Kind == support::ErrorKind::Open || Kind == support::ErrorKind::OutOfMemory;
    }
    // The text of an error raised as an exception.
    static Text Of(const support::Exception& error) { return {error.FullMessage(), error.Kind()}; }
};

// Known before the first entry.
struct ListingHead {
    std::string File;                   // as given on the command line
    // How File, Listed and the file-system texts read: UTF-8 when the path,
    // made absolute as messages show it, is valid UTF-8; else Latin-1.
    Encoding PathEncoding = Encoding::Utf8;
    bool Located = false;               // went through the locator (the name is not ".ARC")
    std::optional<std::string> Listed;  // the path whose entries are read; none when nothing is
    // Where the archive starts in File: the located offset when Located, 0
    // for an archive listed directly; -1 = none found.
    std::int64_t Offset = -1;
    // Where Listed starts in File (a side file starts at Offset): every
    // offset handed to the sink counts from the start of File.
    std::int64_t ListedOrigin = 0;
    std::string OffsetText;             // what the offset label shows; empty when it was never set
    // With --all: a header the reader accepts at a position the locator's
    // rule passes over, and why it does.
    std::optional<std::string> PassedOver;
    // When the locator's block scan chose Offset (or found nothing): the
    // headers the reader accepts that its rule passed over, and the
    // candidates of the winning block before the one chosen, among the bytes
    // the scan read (blocks after the winning one are never read); none on
    // other routes.
    std::optional<std::uint64_t> PassedOverCount;
    std::optional<std::uint64_t> ReplacedCandidates;
    // The archive header as read, and its size (21 or 25 bytes); none when
    // the walk read none (a refused or too short header, or a resumed walk).
    std::optional<archive::ArchiveHeader> Header;
    std::int64_t HeaderSize = 0;
    std::vector<Text> Messages;         // information messages, in the order shown
    // With Options::Hashes: entries come with their StoredData, and this is
    // the SHA-256 (hex) of FILE's bytes, when the listing reads FILE itself
    // (none for a side file, or when nothing was listed).
    bool Hashes = false;
    std::optional<std::string> InputSha256;
    // The bytes listed (FILE, or the side file), for a sink that reads
    // entries' data; valid from Begin until End, none when nothing is
    // listed. Offsets in it are those handed over less ListedOrigin. A
    // reader puts the position back where it found it.
    support::Stream* ListedBytes = nullptr;
};

// A file --carve wrote: its path, its size and its bytes' SHA-256 (hex).
struct CarvedFile {
    std::string Path;
    std::int64_t Size = 0;
    std::string Sha256;
};

// With --all: how many more candidates a listing stands for, or how many
// more entries an entry stands for, and how far apart: the first lies Every
// bytes after the listing's offset (the entry's header), the next Every bytes
// after that, and so on.
struct ShiftedCopies {
    std::uint64_t Count = 0;
    std::int64_t Every = 0;
};

// Why a walk with --all ended before an entry: its header or name holds the
// archive signature that starts at At, or bytes that the entry whose header
// starts at At, listed before, holds. Real entries never do either.
struct WalkStop {
    enum class Why { Signature, Overlap };
    Why Reason = Why::Signature;
    std::int64_t HeaderOffset = 0;  // the entry not listed
    std::int64_t At = 0;
};

// Known once the listing is over.
struct ListingEnd {
    std::optional<Text> Error;                 // why the listing failed, without the report's full stop
    std::optional<archive::WalkSummary> Walk;  // set when a walk ran to its end
    // With Walk: where the archive plausibly ends, and how many entries
    // from the first suspect one on look like trailing data.
    std::int64_t PlausibleEnd = 0;
    std::uint64_t TrailingEntries = 0;
    // Those entries were left out of what the sink was handed (a view that
    // folds them into one line).
    bool TrailingFolded = false;
    // What --carve writes for this listing, or why it writes nothing: set,
    // with Carve or PlanCarves, for a located archive or one at a given
    // offset whose walk ran to its end (joined walks too), so that a front
    // end that only offers the carve reads the same range as the tool writes.
    std::optional<CarvePlan> Plan;
    std::optional<CarvedFile> Carved;
    // With --all: the entry header offset where this candidate's walk
    // reached a header an earlier candidate's walk had listed, and stopped.
    std::optional<std::int64_t> Joins;
    // With --all: the walk ended before an entry that cannot be one (Walk
    // then ends at its header).
    std::optional<WalkStop> Stopped;
    // With --all --carve: the file an earlier candidate was carved to, which
    // holds this candidate; it is not carved again.
    std::optional<std::string> CarvedIn;
    // With --all: the same listing moved on by k * Every bytes (every offset
    // in it moved on, trailing_bytes as much less) is that of each candidate
    // k = 1 to Count after it, folded into this one.
    std::optional<ShiftedCopies> AlsoAt;
    // With Error: the error itself, for callers that hand it on by its class.
    std::exception_ptr Failure;
    Outcome Result = Outcome::Listed;
};

class ListingSink {
public:
    virtual ~ListingSink() = default;
    virtual void Begin(const ListingHead& head) = 0;
    // Instead of Begin, for a listing that goes on after a pause in an
    // earlier run: `entries` were handed to another sink before.
    virtual void Resume(const ListingHead& head, std::uint64_t entries) {
        static_cast<void>(head);
        static_cast<void>(entries);
    }
    // The name is valid during the call only. `suspect`: why the entry
    // cannot be a real one, if it cannot.
    virtual void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect) = 0;
    // With Options::Hashes, instead of Entry: the entry and what was read of
    // its stored bytes. A sink that does not show them gets Entry.
    virtual void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                               std::optional<std::string_view> suspect, const StoredData& data) {
        static_cast<void>(data);
        Entry(name, info, suspect);
    }
    // A run of entries: this one, then `more.Count` more, each the one
    // before it with its header (and so its data) `more.Every` bytes further
    // on. A sink that does not show runs gets them here one by one.
    virtual void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more);
    virtual void End(const ListingHead& head, const ListingEnd& end) = 0;
};

// A listing writes its files (a side file, a carve) through the writer's
// interface, which the tool and the module implement and the page does not.
using support::OutputFiles;
using support::PendingOutput;

// How far into the file being examined the work is, for the progress line:
// what it adds to a counter shared by the workers is taken back at Finish.
class ProgressMeter {
public:
    explicit ProgressMeter(std::atomic<std::int64_t>& inFlight) noexcept : in_flight_(inFlight) {}
    void At(std::int64_t bytes) noexcept {
        if (bytes <= reported_) return;
        in_flight_ += bytes - reported_;
        reported_ = bytes;
    }
    void Finish() noexcept {
        in_flight_ -= reported_;
        reported_ = 0;
    }

private:
    std::atomic<std::int64_t>& in_flight_;
    std::int64_t reported_ = 0;
};

// A listing paused between two entries: what going on with it later needs,
// however many entries came before.
struct ListingCheckpoint {
    archive::WalkPosition At;
    archive::PlausibleEnd::State Plausible;
    std::uint64_t Entries = 0;
    Encoding PathEncoding = Encoding::Utf8;
    bool Located = false;
    std::int64_t Offset = -1;
};

struct Options {
    // Copy a located archive to FILE$$$ (below OutputDir when given) and list
    // that, as the plug-in does; otherwise it is listed inside FILE.
    bool SideFile = false;
    // Every candidate in the file, each listed in place, and every header
    // the reader accepts that the locator passes over.
    bool All = false;
    // List the archive at this offset of FILE, in place, without the locator.
    std::optional<std::int64_t> Offset;
    // Write each located archive, from its offset to its plausible end, to
    // FILE.OFFSET.ARC (next to FILE or below OutputDir); lists in place.
    bool Carve = false;
    // Carve to the walk's end (archive_end) instead of the plausible end.
    bool CarveToWalkEnd = false;
    // Set ListingEnd::Plan without carving, for a front end that offers the
    // carve (with --all a plan per candidate costs a string each).
    bool PlanCarves = false;
    // Replace a carved file an earlier run left; otherwise that is an error.
    bool Force = false;
    // Side files and carves go below this folder instead of next to their input.
    std::optional<std::string> OutputDir;
    // What writes them; none: --side-file and --carve are errors.
    OutputFiles* Outputs = nullptr;
    // Told how far the work is, when a progress line is shown.
    ProgressMeter* Progress = nullptr;
    // With All: fold runs of candidates whose listings repeat the one before,
    // moved on, into one listing with ListingEnd::AlsoAt, and runs of entries
    // that repeat the one before, moved on, into one EntryRun (for reports
    // that show them).
    bool FoldRepeats = false;
    // With All and without FoldRepeats: fold runs of listings without an
    // entry only (a report that shows a row per entry and only a message
    // for a listing without one).
    bool FoldEntryless = false;
    // Read every entry's stored bytes for its SHA-256 and entropy, and
    // FILE's for its SHA-256 (see ListingHead::Hashes). Runs of entries and
    // of candidates are then not folded: each copy holds other bytes.
    bool Hashes = false;
    // For tests only: examining this exact path runs out of memory as its
    // walk begins.
    std::optional<std::string> FailAllocationFor;
    // FILE's bytes, already open, read instead of the file of that name
    // (which need not exist); not with SideFile.
    support::Stream* Input = nullptr;
    // Asked after each entry of a listing (not with All): true pauses it
    // there. Its state then goes to *Paused and the sink sees no End; a
    // listing that ends anyway leaves *Paused empty.
    std::function<bool()> PauseAfterEntry;
    std::optional<ListingCheckpoint>* Paused = nullptr;
};

// Examines one FILE: one listing, or with All one per candidate (one when
// there is none). Running out of memory ends that FILE's listing with the
// out-of-memory error. Returns the worst outcome among its listings.
// Whatever the sink raises (other than running out of memory) passes through.
Outcome Examine(const std::string& file, const Options& options, ListingSink& sink);

// Goes on with a listing of FILE paused at `from`, reading `input` (the same
// bytes as before): the sink gets Resume instead of Begin, the entries from
// there on, and the End. It may pause again, as Examine's listing may.
Outcome ResumeListing(support::Stream& input, const std::string& file, const ListingCheckpoint& from,
                      const Options& options, ListingSink& sink);

// Copies [offset, end) of `input` to FILE.OFFSET.ARC (OFFSET as eight or more
// upper-case hex digits) through `outputs`, whole or not at all; returns its
// path. An empty range writes nothing and raises EFCreateError saying so; so
// does a name already taken, unless `replace` lets a stale carve go. Raises
// the file stream's errors.
std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         OutputFiles& outputs, bool replace = false);
// A listing of a FILE that cannot be examined at all (a folder without
// recursion, a folder that cannot be read): only the error.
Outcome ReportUnexaminable(const std::string& file, const std::string& error, ListingSink& sink);

}  // namespace vexmira::listing
