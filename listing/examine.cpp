#include "listing/examine.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string_view>

#include "archive/plausibility.hpp"
#include "listing/digest.hpp"
#include "listing/listed_bytes.hpp"
#include "listing/plan.hpp"
#include "listing/passed_over.hpp"
#include "listing/repeated_listings.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::listing {

void ListingSink::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    Entry(name, info, suspect);
    archive::TCompressedFileInfo moved = info;
    for (std::uint64_t k = 0; k < more.Count; ++k) {
        moved.HeaderOffset += more.Every;
        Entry(name, moved, suspect);
    }
}

namespace {

// The locator's display for a terminal: the bar has nowhere to go, the label
// and the messages are kept for the listing's head.
class HeadDisplay final : public locator::Display {
public:
    HeadDisplay(ListingHead& head, ProgressMeter* progress) : head_(head), progress_(progress) {}
    // The bar's units for a file of this size, so that its position reads as bytes.
    void SetFileSize(std::int64_t size) noexcept { shift_ = locator::ProgressScale::For(size).Shift; }
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t position) override {
        if (progress_ != nullptr && shift_ >= 0) progress_->At(std::int64_t{position} << shift_);
    }
    void SetOffsetText(const std::string& text) override { head_.OffsetText = text; }
    void ShowMessage(const std::string& text) override { head_.Messages.push_back({text}); }

private:
    ListingHead& head_;
    ProgressMeter* progress_;
    int shift_ = -1;  // unknown until the file is open
};

// What the block scan passed over, counted into the head: headers the reader
// accepts at positions the rule rejects, and the winning block's earlier
// candidates.
struct ScanCounts {
    explicit ScanCounts(ListingHead& head) : head_(head) {
        Witness.OnOther = [this](std::int64_t, std::span<const std::uint8_t> window) {
            if (PassedOverReason(window)) ++passed_over_;
        };
    }
    // Once the scan has run to its end.
    void Keep() {
        head_.PassedOverCount = passed_over_;
        head_.ReplacedCandidates = Witness.ReplacedCandidates;
    }
    locator::ScanWitness Witness;

private:
    ListingHead& head_;
    std::uint64_t passed_over_ = 0;
};

// A refused header's error, as a listing ends with it.
struct Refused {
    Text Error;
    std::exception_ptr Failure;
};

template <class Error>
Refused RefusedWith(const Error& error) {
    return {Text::Of(error), std::make_exception_ptr(error)};
}

// What the walks over one file with --all share: the entries listed so far,
// and the range carved last. Candidates come in increasing order and a carve
// starts only outside the ranges carved before, so the last range is the only
// one a later candidate can lie in.
struct SharedWalks {
    archive::TCompress Reader;  // one for every walk: each makes room for the longest name
    ListedBytes Listed;
    struct CarvedRange {
        std::int64_t Start = 0;
        std::int64_t End = 0;
        std::string Path;
    };
    std::optional<CarvedRange> LastCarved;
    // The last refused header's error, made again only for another reason.
    struct Refusal {
        archive::TCompress::Refusal Reason;
        std::string Identifier;
        Refused Made;
    };
    std::optional<Refusal> LastRefusal;
    // FILE's digest, read once for all its candidates.
    std::optional<std::string> InputDigest;
    const std::string& InputSha256(support::Stream& stream, const std::string& file);
};

// The digest of the whole stream; its position is kept.
std::string InputSha256(support::Stream& stream, const std::string& file) {
    const std::int64_t kept = stream.Position();
    std::string digest = Sha256OfRange(stream, 0, stream.Size(), file);
    stream.Seek(kept, support::SeekOrigin::Beginning);
    return digest;
}

const std::string& SharedWalks::InputSha256(support::Stream& stream, const std::string& file) {
    if (!InputDigest) InputDigest = listing::InputSha256(stream, file);
    return *InputDigest;
}

std::string_view SignatureText() {
    return {reinterpret_cast<const char*>(locator::kSignature.data()), locator::kSignature.size()};
}

// Whether a walk with --all may go on to the entry header at `at`, decided
// before its name is read (a name may be 32 KiB, read anew by each walk that
// reaches it): none, or why not. A header an earlier walk listed joins it,
// unless it is the walk's first; a header that holds the start of the
// signature, or whose header and name would show a listed byte, stops it. A
// header that is no entry's is left for the walk to end at.
struct NextHeader {
    std::optional<std::int64_t> Joins;
    std::optional<WalkStop> Stop;
};
NextHeader CheckNextHeader(support::Stream& stream, archive::TCompress& reader, std::int64_t at, bool first,
                           const ListedBytes& listed) {
    if (listed.IsHeader(at)) return first ? NextHeader{} : NextHeader{at, std::nullopt};
    archive::EntryHeader header;
    if (stream.Seek(at, support::SeekOrigin::Beginning) != at) return {};
    const int read = reader.ReadEntryHeader(stream, header);
    const int size = archive::TCompress::EntryHeaderSize(header);
    if (read != size || header.NameLength < 0) return {};
    // The header again with the name's first bytes: a signature that starts in it.
    std::array<char, archive::kExtendedEntryHeaderSize + locator::kSignature.size() - 1> bytes{};
    const std::size_t wanted = static_cast<std::size_t>(size) +
                               std::min<std::size_t>(static_cast<std::size_t>(header.NameLength), locator::kSignature.size() - 1);
    if (stream.Seek(at, support::SeekOrigin::Beginning) != at) return {};
    const std::size_t got = stream.Read(bytes.data(), wanted);
    const std::size_t signature = std::string_view(bytes.data(), got).find(SignatureText());
    if (signature < static_cast<std::size_t>(size)) {
        return {std::nullopt, WalkStop{WalkStop::Why::Signature, at, at + static_cast<std::int64_t>(signature)}};
    }
    // A signature that a name read before showed here: this name holds it too.
    const std::int64_t nameAt = at + size;
    const auto signatureLength = static_cast<std::int64_t>(locator::kSignature.size());
    if (header.NameLength >= signatureLength) {
        if (const std::optional<std::int64_t> known =
                listed.FirstSignatureIn(nameAt, nameAt + header.NameLength - signatureLength + 1)) {
            return {std::nullopt, WalkStop{WalkStop::Why::Signature, at, *known}};
        }
    }
    if (const std::optional<std::int64_t> taken = listed.FirstListedIn(at, at + size + header.NameLength)) {
        return {std::nullopt, WalkStop{WalkStop::Why::Overlap, at, listed.HeaderHolding(*taken).value_or(*taken)}};
    }
    return {};
}

// The error BeginWalk raises for the archive header at the stream's
// position, if it raises one, made without raising it (the position is
// kept): --all may meet a refused header every few bytes.
std::optional<Refused> RefusedHeader(support::Stream& stream, SharedWalks& shared) {
    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    if (size < start || size - start < archive::kMinimumArchiveLength) return std::nullopt;  // examined no further
    archive::ArchiveHeader header;
    shared.Reader.ReadArchiveHeader(stream, header);
    stream.Seek(start, support::SeekOrigin::Beginning);
    const std::string identifier(header.CompressID.begin(), header.CompressID.end());
    const std::optional<archive::TCompress::Refusal> refusal = shared.Reader.RefusalOf(header, identifier);
    if (!refusal) return std::nullopt;
    std::optional<SharedWalks::Refusal>& last = shared.LastRefusal;
    if (!last || last->Reason != *refusal || last->Identifier != identifier) {
        switch (*refusal) {
            case archive::TCompress::Refusal::Signature:
                last = SharedWalks::Refusal{*refusal, identifier, RefusedWith(archive::EInvalidHeader())};
                break;
            case archive::TCompress::Refusal::ArchiveType:
                last = SharedWalks::Refusal{*refusal, identifier, RefusedWith(archive::EInvalidHeaderArchiveType())};
                break;
            case archive::TCompress::Refusal::CompressionMethod:
                last = SharedWalks::Refusal{*refusal, identifier,
                                            RefusedWith(archive::EUnrecognizedCompressionMethod(identifier))};
                break;
        }
    }
    return last->Made;
}

// FILE's bytes from its start: the caller's stream, or FILE opened by name.
support::Stream& OpenInput(const std::string& file, const Options& options, std::optional<support::FileStream>& opened) {
    if (options.Input == nullptr) return opened.emplace(file, support::FileMode::OpenReadExclusive);
    if (options.Input->Seek(0, support::SeekOrigin::Beginning) != 0) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "Seek failed"));
    }
    return *options.Input;
}

// What writes the listing's files; a caller without one asked for none.
OutputFiles& Outputs(const Options& options) {
    if (options.Outputs == nullptr) {
        throw support::EFCreateError(support::CreateErrorMessage(options.OutputDir.value_or("."), "Nothing may be written here"));
    }
    return *options.Outputs;
}

// One listing through the sink: the head once, the entries, the end once.
class Listing {
public:
    Listing(ListingSink& sink, const std::string& file, const Options& options)
        : Listing(sink, file, options,
                  IsValidUtf8(file) && IsValidUtf8(support::AbsolutePath(file)) ? Encoding::Utf8 : Encoding::Latin1) {}
    // With the path's encoding already known, for the many listings of one file.
    Listing(ListingSink& sink, const std::string& file, const Options& options, Encoding pathEncoding)
        : sink_(sink), options_(options) {
        head.File = file;
        head.PathEncoding = pathEncoding;
        head.Hashes = options.Hashes;
    }

    ListingHead head;

    void Begin() {
        if (begun_) return;
        begun_ = true;
        sink_.Begin(head);
    }

    // For a listing an earlier run began.
    void Resume(std::uint64_t entries) {
        begun_ = true;
        sink_.Resume(head, entries);
    }

    Outcome End(std::optional<Text> error, std::exception_ptr failure = nullptr) {
        ListingEnd end;
        end.Error = std::move(error);
        end.Failure = failure;
        return End(std::move(end));
    }

    Outcome End(ListingEnd end) {
        Begin();
        end.Result = end.Error                        ? Outcome::Failed
                     : head.Located && head.Offset < 0 ? Outcome::NotFound
                                                       : Outcome::Listed;
        ended_ = true;
        sink_.End(head, end);
        head.ListedBytes = nullptr;
        return end.Result;
    }

    bool Ended() const noexcept { return ended_; }
    bool RanOutOfMemory = false;

    // Lists the archive at the stream's position under the name `listed`,
    // which starts at `origin` in FILE; with Carve, a located archive is then
    // carved out of the stream. With `shared` (--all), the walk lists only
    // entries that show no byte another listed entry shows, stopping before
    // one that would or whose header or name holds the signature, and joins
    // a walk whose entry header it reaches (its first entry is listed
    // whoever listed it first).
    // With `from`, the walk goes on from there (origin 0, no `shared`).
    Outcome Walk(support::Stream& stream, const std::string& listed, std::int64_t origin = 0,
                 SharedWalks* shared = nullptr, const ListingCheckpoint* from = nullptr) {
        head.Listed = listed;
        head.ListedOrigin = origin;
        head.ListedBytes = &stream;
        if (options_.Hashes && listed == head.File && from == nullptr) {
            try {
                head.InputSha256 = shared != nullptr ? shared->InputSha256(stream, head.File) : InputSha256(stream, head.File);
            } catch (const support::Exception& error) {
                head.ListedBytes = nullptr;
                return End(Text::Of(error), std::current_exception());
            }
        }
        std::optional<archive::TCompress> own;
        archive::TCompress& reader = shared != nullptr ? shared->Reader : own.emplace();
        archive::PlausibleEnd plausible(stream.Size(), from != nullptr ? from->Plausible : archive::PlausibleEnd::State{});
        std::uint64_t entries = from != nullptr ? from->Entries : 0;
        archive::WalkPosition at;
        std::optional<std::int64_t> joinedAt;  // where the walk reached a header an earlier one listed
        std::optional<WalkStop> stopped;
        std::int64_t endedAt = 0;  // with either: the header the walk ended at
        try {
            if (options_.FailAllocationFor == head.File) throw std::bad_alloc();
            if (shared != nullptr) {
                if (std::optional<Refused> refused = RefusedHeader(stream, *shared)) {
                    return End(std::move(refused->Error), refused->Failure);
                }
            }
            if (from != nullptr) {
                at = from->At;
            } else {
                // Read before the head goes out, so that it carries the header's fields.
                at = reader.BeginWalk(stream, head.Header);
                if (head.Header) head.HeaderSize = at.Walk.HeaderEnd - at.Walk.ArchiveStart;
            }
            Begin();
            const auto visit = [&](std::string_view name, archive::TCompressedFileInfo info) {
                if (shared != nullptr && !shared->Listed.IsHeader(info.HeaderOffset)) {
                    const std::int64_t nameAt = info.HeaderOffset + info.HeaderSize;
                    if (const std::size_t signature = name.find(SignatureText()); signature != std::string_view::npos) {
                        stopped = WalkStop{WalkStop::Why::Signature, info.HeaderOffset,
                                           nameAt + static_cast<std::int64_t>(signature)};
                        endedAt = info.HeaderOffset;
                        // Every one it holds, so that no other walk reads this name for them.
                        for (std::size_t found = signature; found != std::string_view::npos;
                             found = name.find(SignatureText(), found + 1)) {
                            shared->Listed.AddSignature(nameAt + static_cast<std::int64_t>(found));
                        }
                        return false;
                    }
                    shared->Listed.Add(info.HeaderOffset, nameAt + static_cast<std::int64_t>(name.size()));
                }
                ++entries;
                const std::optional<std::string_view> suspect = plausible.Add(name, info);
                if (options_.Hashes) {
                    const StoredData data = ReadStoredData(stream, info, name.size(), head.File);
                    info.HeaderOffset += origin;
                    sink_.EntryWithData(name, info, suspect, data);
                } else {
                    info.HeaderOffset += origin;
                    sink_.Entry(name, info, suspect);
                }
                if (options_.Progress != nullptr && (entries & 0xFFF) == 0) options_.Progress->At(info.HeaderOffset);
                // With --all, each next header is checked before its name is read.
                return shared == nullptr && (!options_.PauseAfterEntry || !options_.PauseAfterEntry());
            };
            if (shared == nullptr) {
                reader.ContinueWalk(stream, at, visit);
            } else {
                while (!at.Over && !stopped) {
                    const NextHeader next = CheckNextHeader(stream, reader, at.NextHeader, entries == 0, shared->Listed);
                    if (next.Joins || next.Stop) {
                        joinedAt = next.Joins;
                        stopped = next.Stop;
                        endedAt = at.NextHeader;
                        break;
                    }
                    reader.ContinueWalk(stream, at, visit);
                }
                if (joinedAt) *joinedAt += origin;
                if (stopped) {
                    stopped->HeaderOffset += origin;
                    stopped->At += origin;
                }
            }
        } catch (const support::Exception& error) {
            return End(Text::Of(error), std::current_exception());
        }
        archive::WalkSummary walk = at.Walk;
        if (joinedAt || stopped) {
            // The walk ends before the entry it did not list.
            walk.ArchiveEnd = endedAt;
            walk.End = archive::WalkEnd::Invalid;
        } else if (!at.Over) {
            if (options_.Paused != nullptr) {
                *options_.Paused = ListingCheckpoint{at, plausible.Saved(), entries, head.PathEncoding, head.Located,
                                                     head.Offset};
            }
            return Outcome::Listed;
        }
        ListingEnd end;
        end.PlausibleEnd = plausible.End(walk);
        if ((options_.Carve || options_.PlanCarves) && (head.Located || options_.Offset) && head.Offset >= 0) {
            end.Plan = PlanCarve(head.Offset, walk, end.PlausibleEnd, entries, options_.CarveToWalkEnd);
            if (options_.Carve) Carve(stream, *end.Plan, end, shared);
        }
        if (joinedAt) {
            // What follows is the joined walk's: its figures are not this listing's.
            end.Joins = *joinedAt;
            end.PlausibleEnd = 0;
            return End(std::move(end));
        }
        end.Stopped = stopped;
        end.TrailingEntries = plausible.TrailingEntries();
        walk.ArchiveStart += origin;
        walk.ArchiveEnd += origin;
        walk.HeaderEnd += origin;
        walk.StreamSize += origin;
        end.PlausibleEnd += origin;
        end.Walk = walk;
        return End(std::move(end));
    }

    // Opens and lists a whole file, which starts at `origin` in FILE; a file
    // that cannot be opened is not listed.
    Outcome WalkFile(const std::string& path, std::int64_t origin = 0) {
        std::optional<support::FileStream> opened;
        support::Stream* stream = nullptr;
        try {
            stream = &OpenInput(path, options_, opened);
        } catch (const support::Exception& error) {
            return End(Text::Of(error), std::current_exception());
        }
        return Walk(*stream, path, origin);
    }

private:
    // Carves [Offset, the walk's plausible end, or its end) unless an earlier
    // candidate's carve holds Offset; with `shared`, later candidates that
    // this carve holds are not carved.
    void Carve(support::Stream& stream, const CarvePlan& plan, ListingEnd& end, SharedWalks* shared) {
        if (shared != nullptr && shared->LastCarved && head.Offset >= shared->LastCarved->Start &&
            head.Offset < shared->LastCarved->End) {
            end.CarvedIn = shared->LastCarved->Path;
            return;
        }
        try {
            const std::int64_t carveEnd = plan.End;
            CarvedFile carved;
            carved.Path = CarveArchive(stream, head.File, head.Offset, carveEnd, Outputs(options_), options_.Force);
            carved.Size = carveEnd - head.Offset;
            carved.Sha256 = Sha256OfRange(stream, head.Offset, carveEnd, head.File);
            if (shared != nullptr) shared->LastCarved = SharedWalks::CarvedRange{head.Offset, carveEnd, carved.Path};
            end.Carved = std::move(carved);
        } catch (const support::Exception& error) {
            end.Error = Text::Of(error);
            end.Failure = std::current_exception();
        }
    }

    ListingSink& sink_;
    const Options& options_;
    bool begun_ = false;
    bool ended_ = false;
};

// Ends a listing that ran out of memory, unless it had already ended.
template <class Work>
Outcome GuardMemory(Listing& listing, Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        if (listing.Ended()) throw;
        listing.RanOutOfMemory = true;
        return listing.End(Text{std::string(support::kOutOfMemoryMessage), support::ErrorKind::OutOfMemory}, std::make_exception_ptr(support::EOutOfMemory()));
    }
}

Outcome ExamineAll(const std::string& file, const Options& options, ListingSink& sink) {
    Outcome worst = Outcome::Listed;
    bool any = false;
    Listing summary(sink, file, options);
    summary.head.Located = true;
    return GuardMemory(summary, [&] {
        try {
            std::optional<support::FileStream> opened;
            support::Stream& input = OpenInput(file, options, opened);
            bool outOfMemory = false;
            SharedWalks shared;
            const bool foldRepeats = options.FoldRepeats && !options.Hashes;
            RepeatedListings folded(sink, foldRepeats);
            RepeatedEntries foldedEntries(folded);
            ListingSink& listings = foldRepeats             ? static_cast<ListingSink&>(foldedEntries)
                                    : options.FoldEntryless ? static_cast<ListingSink&>(folded)
                                                            : sink;
            const auto list = [&](std::int64_t offset, std::optional<std::string> passedOver) {
                any = true;
                Listing candidate(listings, file, options, summary.head.PathEncoding);
                candidate.head.Located = true;
                candidate.head.Offset = offset;
                candidate.head.OffsetText = locator::OffsetText(offset);
                candidate.head.PassedOver = std::move(passedOver);
                const Outcome outcome = GuardMemory(candidate, [&] {
                    input.Seek(offset, support::SeekOrigin::Beginning);
                    return candidate.Walk(input, file, 0, &shared);
                });
                // A candidate that ran out of memory ends the file's scan.
                outOfMemory = candidate.RanOutOfMemory;
                worst = std::max(worst, outcome);
            };
            locator::ForEachSignature(
                input,
                [&](std::int64_t offset) {
                    if (options.Progress != nullptr) options.Progress->At(offset);
                    if (!outOfMemory) list(offset, std::nullopt);
                },
                [&](std::int64_t offset, std::span<const std::uint8_t> window) {
                    if (outOfMemory) return;
                    if (std::optional<std::string> reason = PassedOverReason(window)) list(offset, std::move(reason));
                });
            folded.Finish();
            if (any) return worst;
            summary.head.Messages.push_back({std::string(locator::kNotFoundMessage)});
            summary.head.OffsetText = locator::kNotFoundText;
            return summary.End(std::nullopt);
        } catch (const support::Exception& error) {
            summary.head.Messages.push_back({std::string(locator::kExceptPrefix) + error.Message()});
            return std::max(worst, summary.End(Text::Of(error), std::current_exception()));
        }
    });
}

// The archive at a given offset, listed in place.
Outcome ExamineAt(const std::string& file, std::int64_t offset, const Options& options, ListingSink& sink) {
    Listing listing(sink, file, options);
    listing.head.Offset = offset;
    listing.head.OffsetText = locator::OffsetText(offset);
    return GuardMemory(listing, [&] {
        try {
            std::optional<support::FileStream> opened;
            support::Stream& input = OpenInput(file, options, opened);
            if (offset > input.Size()) {
                return listing.End(Text{"offset " + std::to_string(offset) + " is past the end of the file (" +
                                        std::to_string(input.Size()) + " bytes)"});
            }
            input.Seek(offset, support::SeekOrigin::Beginning);
            return listing.Walk(input, file);
        } catch (const support::Exception& error) {
            return listing.End(Text::Of(error), std::current_exception());
        }
    });
}

}  // namespace

Outcome Examine(const std::string& file, const Options& options, ListingSink& sink) {
    const Route route = RouteOf(file, options.Offset.has_value(), options.All);
    if (route == Route::AtOffset) return ExamineAt(file, *options.Offset, options, sink);
    if (route == Route::Candidates) return ExamineAll(file, options, sink);

    Listing listing(sink, file, options);
    return GuardMemory(listing, [&] {
        if (route == Route::Direct) {
            listing.head.Offset = 0;
            return listing.WalkFile(file);
        }

        listing.head.Located = true;
        HeadDisplay display(listing.head, options.Progress);
        if (!options.SideFile || options.Carve) {
            try {
                std::optional<support::FileStream> opened;
                support::Stream& input = OpenInput(file, options, opened);
                display.SetFileSize(input.Size());
                ScanCounts counts(listing.head);
                listing.head.Offset = locator::LocateArchive(input, display, &counts.Witness);
                counts.Keep();
                if (listing.head.Offset < 0) return listing.End(std::nullopt);
                input.Seek(listing.head.Offset, support::SeekOrigin::Beginning);
                return listing.Walk(input, file);
            } catch (const support::Exception& error) {
                display.ShowMessage(std::string(locator::kExceptPrefix) + error.Message());
                return listing.End(Text::Of(error), std::current_exception());
            }
        }
        std::unique_ptr<PendingOutput> side;
        ScanCounts counts(listing.head);
        const locator::RipOutcome rip = locator::RipArchive(
            file, display,
            [&]() -> support::Stream& {
                side = Outputs(options).Start(file, "$$$", true);
                return side->Stream();
            },
            &counts.Witness);
        counts.Keep();
        listing.head.Offset = rip.Offset;
        // A side file this run could not create or fill is not its result,
        // and goes (whatever an earlier run left under its name stays) before
        // the error is said: on a full disk, saying it may need the room.
        if (rip.Failure || rip.Offset < 0) side.reset();
        if (rip.Failure) return listing.End(Text{*rip.Failure});
        if (rip.Offset < 0) return listing.End(std::nullopt);
        try {
            side->Commit();
        } catch (const support::Exception& error) {
            // Said as the locator says a side file it could not create.
            side.reset();
            display.ShowMessage(std::string(locator::kExceptPrefix) + error.Message());
            return listing.End(Text::Of(error), std::current_exception());
        }
        // The file listed is the one written, through the same descriptor.
        side->Stream().Seek(0, support::SeekOrigin::Beginning);
        return listing.Walk(side->Stream(), side->Path(), rip.Offset);
    });
}

Outcome ResumeListing(support::Stream& input, const std::string& file, const ListingCheckpoint& from,
                      const Options& options, ListingSink& sink) {
    Listing listing(sink, file, options);
    listing.head.PathEncoding = from.PathEncoding;
    listing.head.Located = from.Located;
    listing.head.Offset = from.Offset;
    listing.head.Listed = file;
    listing.Resume(from.Entries);
    return GuardMemory(listing, [&] { return listing.Walk(input, file, 0, nullptr, &from); });
}

std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         OutputFiles& outputs, bool replace) {
    const std::string suffix = CarveSuffix(offset);
    if (const std::optional<std::string> refusal = CarveRefusal(offset, end)) {
        throw support::EFCreateError(support::CreateErrorMessage(outputs.PathOf(file, suffix), *refusal));
    }
    const std::unique_ptr<PendingOutput> out = outputs.Start(file, suffix, replace);
    if (input.Seek(offset, support::SeekOrigin::Beginning) != offset) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "Seek failed"));
    }
    if (locator::CopyBytes(input, out->Stream(), end - offset) != end - offset) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "The file ended before the archive did"));
    }
    out->Commit();
    return out->Path();
}

Outcome ReportUnexaminable(const std::string& file, const std::string& error, ListingSink& sink) {
    const Options none;
    Listing listing(sink, file, none);
    return listing.End(Text{error});
}

}  // namespace vexmira::listing
