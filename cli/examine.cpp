#include "cli/examine.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <unordered_map>

#include "archive/plausibility.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "cli/digest.hpp"
#include "cli/passed_over.hpp"
#include "cli/repeated_listings.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::cli {

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

Text ErrorText(const support::Exception& error) {
    // Only a header's identifier comes from inside an archive.
    const bool fromArchive = dynamic_cast<const archive::EUnrecognizedCompressionMethod*>(&error) != nullptr;
    const bool header = fromArchive || dynamic_cast<const archive::EInvalidHeader*>(&error) != nullptr ||
                        dynamic_cast<const archive::EInvalidHeaderArchiveType*>(&error) != nullptr;
    return {error.FullMessage(), fromArchive, header};
}

// The entry header offsets the walks of one file have read, one bit per byte
// of the file, kept in pages of kPageOffsets offsets only where a walk read
// a header: at most a bit per byte (an eighth of the file's size) and a small
// map entry per page.
class WalkedHeaders {
public:
    // True when `offset` was marked before; marks it either way.
    bool Mark(std::int64_t offset) {
        auto& page = pages_[offset / kPageOffsets];
        const auto bit = static_cast<std::size_t>(offset % kPageOffsets);
        std::uint64_t& word = page[bit / 64];
        const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
        const bool seen = (word & mask) != 0;
        word |= mask;
        return seen;
    }

private:
    static constexpr std::int64_t kPageOffsets = 4096;
    std::unordered_map<std::int64_t, std::array<std::uint64_t, kPageOffsets / 64>> pages_;
};

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
        return end.Result;
    }

    bool Ended() const noexcept { return ended_; }
    bool RanOutOfMemory = false;

    // Lists the archive at the stream's position under the name `listed`,
    // which starts at `origin` in FILE; with Carve, a located archive is then
    // carved out of the stream. With `walked`, the walk marks the entry
    // headers it reads and stops before one marked earlier, unless that is
    // its first.
    // With `from`, the walk goes on from there (origin 0, no `walked`).
    Outcome Walk(support::Stream& stream, const std::string& listed, std::int64_t origin = 0,
                 WalkedHeaders* walked = nullptr, const ListingCheckpoint* from = nullptr) {
        head.Listed = listed;
        head.ListedOrigin = origin;
        Begin();
        archive::TCompress reader;
        archive::PlausibleEnd plausible(stream.Size(), from != nullptr ? from->Plausible : archive::PlausibleEnd::State{});
        std::uint64_t entries = from != nullptr ? from->Entries : 0;
        archive::WalkPosition at;
        std::optional<std::int64_t> joinedAt;  // where the walk reached a header an earlier one read
        try {
            if (options_.FailAllocationFor == head.File) throw std::bad_alloc();
            at = from != nullptr ? from->At : reader.BeginWalk(stream);
            reader.ContinueWalk(stream, at, [&](std::string_view name, archive::TCompressedFileInfo info) {
                // A candidate's first entry is listed whoever read it first.
                const bool seen = walked != nullptr && walked->Mark(info.HeaderOffset);
                if (seen && entries > 0) {
                    joinedAt = info.HeaderOffset + origin;
                    return false;
                }
                ++entries;
                const std::optional<std::string_view> suspect = plausible.Add(name, info);
                info.HeaderOffset += origin;
                if (options_.Progress != nullptr && (entries & 0xFFF) == 0) options_.Progress->At(info.HeaderOffset);
                sink_.Entry(name, info, suspect);
                return !options_.PauseAfterEntry || !options_.PauseAfterEntry();
            });
        } catch (const support::Exception& error) {
            return End(ErrorText(error), std::current_exception());
        }
        if (joinedAt) {
            ListingEnd end;
            end.Joins = *joinedAt;
            return End(std::move(end));
        }
        if (!at.Over) {
            if (options_.Paused != nullptr) {
                *options_.Paused = ListingCheckpoint{at, plausible.Saved(), entries, head.PathEncoding, head.Located,
                                                     head.Offset};
            }
            return Outcome::Listed;
        }
        archive::WalkSummary walk = at.Walk;
        ListingEnd end;
        end.PlausibleEnd = plausible.End(walk);
        end.TrailingEntries = plausible.TrailingEntries();
        if (options_.Carve && (head.Located || options_.Offset) && head.Offset >= 0) {
            try {
                // An archive without a single entry has nothing worth carving.
                const std::int64_t carveEnd = entries == 0 ? head.Offset
                                              : options_.CarveToWalkEnd ? std::max(walk.ArchiveEnd, end.PlausibleEnd)
                                                                        : end.PlausibleEnd;
                CarvedFile carved;
                carved.Path = CarveArchive(stream, head.File, head.Offset, carveEnd, Outputs(options_), options_.Force);
                carved.Size = carveEnd - head.Offset;
                carved.Sha256 = Sha256OfRange(stream, head.Offset, carveEnd, head.File);
                end.Carved = std::move(carved);
            } catch (const support::Exception& error) {
                end.Error = ErrorText(error);
                end.Failure = std::current_exception();
            }
        }
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
            return End(ErrorText(error), std::current_exception());
        }
        return Walk(*stream, path, origin);
    }

private:
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
        return listing.End(Text{std::string(support::kOutOfMemoryMessage)}, std::make_exception_ptr(support::EOutOfMemory()));
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
            // A carve needs each walk's own end, so with --carve every walk runs on.
            WalkedHeaders walkedHeaders;
            WalkedHeaders* const walked = options.Carve ? nullptr : &walkedHeaders;
            RepeatedListings folded(sink);
            RepeatedEntries foldedEntries(folded);
            ListingSink& listings =
                options.FoldRepeats && walked != nullptr ? static_cast<ListingSink&>(foldedEntries) : sink;
            const auto list = [&](std::int64_t offset, std::optional<std::string> passedOver) {
                any = true;
                Listing candidate(listings, file, options, summary.head.PathEncoding);
                candidate.head.Located = true;
                candidate.head.Offset = offset;
                candidate.head.OffsetText = locator::OffsetText(offset);
                candidate.head.PassedOver = std::move(passedOver);
                const Outcome outcome = GuardMemory(candidate, [&] {
                    input.Seek(offset, support::SeekOrigin::Beginning);
                    return candidate.Walk(input, file, 0, walked);
                });
                // A candidate that ran out of memory ends the file's scan.
                outOfMemory = candidate.RanOutOfMemory;
                worst = std::max(worst, outcome);
            };
            PassedOverScan passedOver(input);
            const auto listPassedOver = [&](std::optional<std::int64_t> before) {
                while (!outOfMemory) {
                    std::optional<PassedOverHeader> header = passedOver.Next(before);
                    if (!header) return;
                    list(header->Offset, std::move(header->Reason));
                }
            };
            locator::ForEachCandidate(input, [&](std::int64_t offset) {
                if (options.Progress != nullptr) options.Progress->At(offset);
                listPassedOver(offset);
                if (!outOfMemory) list(offset, std::nullopt);
            });
            listPassedOver(std::nullopt);
            folded.Finish();
            if (any) return worst;
            summary.head.Messages.push_back({std::string(locator::kNotFoundMessage)});
            summary.head.OffsetText = locator::kNotFoundText;
            return summary.End(std::nullopt);
        } catch (const support::Exception& error) {
            summary.head.Messages.push_back({std::string(locator::kExceptPrefix) + error.Message()});
            return std::max(worst, summary.End(ErrorText(error), std::current_exception()));
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
            return listing.End(ErrorText(error), std::current_exception());
        }
    });
}

}  // namespace

Outcome Examine(const std::string& file, const Options& options, ListingSink& sink) {
    if (options.Offset) return ExamineAt(file, *options.Offset, options, sink);
    if (!support::IsArcPath(file) && options.All) return ExamineAll(file, options, sink);

    Listing listing(sink, file, options);
    return GuardMemory(listing, [&] {
        if (support::IsArcPath(file)) {
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
                listing.head.Offset = locator::LocateArchive(input, display);
                if (listing.head.Offset < 0) return listing.End(std::nullopt);
                input.Seek(listing.head.Offset, support::SeekOrigin::Beginning);
                return listing.Walk(input, file);
            } catch (const support::Exception& error) {
                display.ShowMessage(std::string(locator::kExceptPrefix) + error.Message());
                return listing.End(ErrorText(error), std::current_exception());
            }
        }
        std::unique_ptr<PendingOutput> side;
        const locator::RipOutcome rip = locator::RipArchive(file, display, [&]() -> support::Stream& {
            side = Outputs(options).Start(file, "$$$", true);
            return side->Stream();
        });
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
            return listing.End(ErrorText(error), std::current_exception());
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
    const std::string suffix = "." + locator::OffsetHex(offset) + ".ARC";
    if (end <= offset) {
        throw support::EFCreateError(support::CreateErrorMessage(
            outputs.PathOf(file, suffix),
            "Nothing to carve: no archive entry at offset " + std::to_string(offset) + " of the file"));
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

}  // namespace vexmira::cli
