#include "cli/examine.hpp"

#include <algorithm>
#include <array>
#include <new>
#include <unordered_map>

#include "archive/plausibility.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "cli/sources.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::cli {

namespace {

// The locator's display for a terminal: the bar has nowhere to go, the label
// and the messages are kept for the listing's head.
class HeadDisplay final : public locator::Display {
public:
    explicit HeadDisplay(ListingHead& head) : head_(head) {}
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string& text) override { head_.OffsetText = text; }
    void ShowMessage(const std::string& text) override { head_.Messages.push_back({text}); }

private:
    ListingHead& head_;
};

Text ErrorText(const support::Exception& error) {
    // Only a header's identifier comes from inside an archive.
    const bool fromArchive = dynamic_cast<const archive::EUnrecognizedCompressionMethod*>(&error) != nullptr;
    return {error.FullMessage(), fromArchive};
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

// Raised from inside a walk that reached a header already walked.
struct JoinedWalk {
    std::int64_t HeaderOffset;
};

// One listing through the sink: the head once, the entries, the end once.
class Listing {
public:
    Listing(ListingSink& sink, const std::string& file, const Options& options) : sink_(sink), options_(options) {
        head.File = file;
        head.PathEncoding = IsValidUtf8(file) && IsValidUtf8(support::AbsolutePath(file)) ? Encoding::Utf8 : Encoding::Latin1;
    }

    ListingHead head;

    void Begin() {
        if (begun_) return;
        begun_ = true;
        sink_.Begin(head);
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

    // Lists the archive at the stream's position under the name `listed`;
    // with Carve, a located archive is then carved out of the stream. With
    // `walked`, the walk marks the entry headers it reads and stops before
    // one marked earlier, unless that is its first.
    Outcome Walk(support::Stream& stream, const std::string& listed, WalkedHeaders* walked = nullptr) {
        head.Listed = listed;
        Begin();
        archive::TCompress reader;
        archive::WalkSummary walk;
        archive::PlausibleEnd plausible(stream.Size());
        bool listedAny = false;
        try {
            if (options_.FailAllocationFor == head.File) throw std::bad_alloc();
            reader.WalkArchiveStream(
                stream,
                [&](std::string_view name, const archive::TCompressedFileInfo& info) {
                    // A candidate's first entry is listed whoever read it first.
                    const bool seen = walked != nullptr && walked->Mark(info.HeaderOffset);
                    if (seen && listedAny) throw JoinedWalk{info.HeaderOffset};
                    listedAny = true;
                    sink_.Entry(name, info, plausible.Add(name, info));
                },
                &walk);
        } catch (const support::Exception& error) {
            return End(ErrorText(error), std::current_exception());
        } catch (const JoinedWalk& joined) {
            ListingEnd end;
            end.Joins = joined.HeaderOffset;
            return End(std::move(end));
        }
        ListingEnd end;
        end.Walk = walk;
        end.PlausibleEnd = plausible.End(walk);
        end.TrailingEntries = plausible.TrailingEntries();
        if (options_.Carve && head.Located && head.Offset >= 0) {
            try {
                end.Carved = CarveArchive(stream, head.File, head.Offset, end.PlausibleEnd, options_.OutputDir);
            } catch (const support::Exception& error) {
                end.Error = ErrorText(error);
                end.Failure = std::current_exception();
            }
        }
        return End(std::move(end));
    }

    // Opens and lists a whole file; a file that cannot be opened is not listed.
    Outcome WalkFile(const std::string& path) {
        std::optional<support::FileStream> stream;
        try {
            stream.emplace(path, support::FileMode::OpenReadExclusive);
        } catch (const support::Exception& error) {
            return End(ErrorText(error), std::current_exception());
        }
        return Walk(*stream, path);
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
            support::FileStream input(file, support::FileMode::OpenReadExclusive);
            bool outOfMemory = false;
            // A carve needs each walk's own end, so with --carve every walk runs on.
            WalkedHeaders walkedHeaders;
            WalkedHeaders* const walked = options.Carve ? nullptr : &walkedHeaders;
            locator::ForEachCandidate(input, [&](std::int64_t offset) {
                if (outOfMemory) return;
                any = true;
                Listing candidate(sink, file, options);
                candidate.head.Located = true;
                candidate.head.Offset = offset;
                candidate.head.OffsetText = locator::OffsetText(offset);
                const Outcome outcome = GuardMemory(candidate, [&] {
                    input.Seek(offset, support::SeekOrigin::Beginning);
                    return candidate.Walk(input, file, walked);
                });
                // A candidate that ran out of memory ends the file's scan.
                outOfMemory = candidate.RanOutOfMemory;
                worst = std::max(worst, outcome);
            });
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

}  // namespace

Outcome Examine(const std::string& file, const Options& options, ListingSink& sink) {
    if (!support::IsArcPath(file) && options.All) return ExamineAll(file, options, sink);

    Listing listing(sink, file, options);
    return GuardMemory(listing, [&] {
        if (support::IsArcPath(file)) return listing.WalkFile(file);

        listing.head.Located = true;
        HeadDisplay display(listing.head);
        if (options.InPlace || options.Carve) {
            try {
                support::FileStream input(file, support::FileMode::OpenReadExclusive);
                listing.head.Offset = locator::LocateArchive(input, display);
                if (listing.head.Offset < 0) return listing.End(std::nullopt);
                input.Seek(listing.head.Offset, support::SeekOrigin::Beginning);
                return listing.Walk(input, file);
            } catch (const support::Exception& error) {
                display.ShowMessage(std::string(locator::kExceptPrefix) + error.Message());
                return listing.End(ErrorText(error), std::current_exception());
            }
        }
        const locator::RipOutcome rip =
            options.OutputDir
                ? locator::RipArchive(file, OutputPathFor(*options.OutputDir, file, "$$$"), display,
                                      [&] { MakeParentFolders(*options.OutputDir, OutputPathFor(*options.OutputDir, file, "$$$")); })
                : locator::RipArchive(file, display);
        listing.head.Offset = rip.Offset;
        // A side file this run could not create or fill is not its result,
        // whatever an earlier run left there.
        if (rip.Failure) return listing.End(Text{*rip.Failure});
        if (rip.Offset < 0) return listing.End(std::nullopt);
        return listing.WalkFile(options.OutputDir ? OutputPathFor(*options.OutputDir, file, "$$$")
                                                  : support::SideFilePath(file));
    });
}

std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         const std::optional<std::string>& outputDir) {
    const std::string suffix = "." + locator::OffsetHex(offset) + ".ARC";
    const std::string path = outputDir ? OutputPathFor(*outputDir, file, suffix) : file + suffix;
    if (outputDir) MakeParentFolders(*outputDir, path);
    support::FileStream out(path, support::FileMode::CreateExclusive);
    if (input.Seek(offset, support::SeekOrigin::Beginning) != offset) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "Seek failed"));
    }
    locator::CopyBytes(input, out, end - offset);
    return path;
}

Outcome ReportUnexaminable(const std::string& file, const std::string& error, ListingSink& sink) {
    const Options none;
    Listing listing(sink, file, none);
    return listing.End(Text{error});
}

}  // namespace vexmira::cli
