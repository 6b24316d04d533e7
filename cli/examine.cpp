#include "cli/examine.hpp"

#include <algorithm>

#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::cli {

namespace {

// The locator's display for a terminal: the bar has nowhere to go, the label
// and the messages are kept for the report.
class ListingDisplay final : public locator::Display {
public:
    explicit ListingDisplay(Listing& listing) : listing_(listing) {}
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string& text) override { listing_.offsetText = text; }
    void ShowMessage(const std::string& text) override { listing_.messages.push_back(text); }

private:
    Listing& listing_;
};

std::string ExceptText(const support::Exception& error) {
    return std::string(locator::kExceptPrefix) + error.Message();
}

// Runs one walk; a raised error leaves the list empty, as the dialog shows it.
template <class Scan>
void Walk(Listing& listing, Scan scan) {
    archive::TCompress reader;
    archive::WalkSummary walk;
    try {
        scan(reader, walk);
        listing.walk = walk;
    } catch (const support::Exception& error) {
        listing.entries.Clear();
        listing.error = error.Message();
    }
}

// As the dialog lists a path: nothing (and no message) when no regular file is there.
void ListFile(Listing& listing, const std::string& path) {
    if (!support::RegularFileExists(path)) return;
    listing.listed = path;
    Walk(listing, [&](archive::TCompress& reader, archive::WalkSummary& walk) {
        reader.ScanArchiveFile(path, listing.entries, &walk);
    });
}

// Lists the archive at `offset` of an open carrier.
void ListInPlace(Listing& listing, support::Stream& input, std::int64_t offset) {
    listing.listed = listing.file;
    input.Seek(offset, support::SeekOrigin::Beginning);
    Walk(listing, [&](archive::TCompress& reader, archive::WalkSummary& walk) {
        reader.ScanArchiveStream(input, listing.entries, &walk);
    });
}

Outcome Judge(const Listing& listing) {
    const bool excepted = std::any_of(listing.messages.begin(), listing.messages.end(), [](const std::string& text) {
        return text.starts_with(locator::kExceptPrefix);
    });
    if (excepted || listing.error || listing.note) return Outcome::Failed;
    if (listing.located && listing.offset < 0) return Outcome::NotFound;
    return Outcome::Listed;
}

Outcome Emit(Listing& listing, const std::function<void(const Listing&)>& emit) {
    listing.outcome = Judge(listing);
    emit(listing);
    return listing.outcome;
}

Outcome ExamineAll(const std::string& file, const std::function<void(const Listing&)>& emit) {
    Outcome worst = Outcome::Listed;
    bool any = false;
    Listing listing;
    listing.file = file;
    listing.located = true;
    try {
        support::FileStream input(file, support::FileMode::OpenReadExclusive);
        locator::ForEachCandidate(input, [&](std::int64_t offset) {
            any = true;
            Listing candidate;
            candidate.file = file;
            candidate.located = true;
            candidate.offset = offset;
            candidate.offsetText = locator::OffsetText(offset);
            ListInPlace(candidate, input, offset);
            worst = std::max(worst, Emit(candidate, emit));
        });
        if (any) return worst;
        listing.messages.emplace_back(locator::kNotFoundMessage);
        listing.offsetText = locator::kNotFoundText;
    } catch (const support::Exception& error) {
        listing.messages.push_back(ExceptText(error));
    }
    return std::max(worst, Emit(listing, emit));
}

}  // namespace

Outcome Examine(const std::string& file, const Options& options, const std::function<void(const Listing&)>& emit) {
    Listing listing;
    listing.file = file;
    if (support::IsArcPath(file)) {
        ListFile(listing, file);
        if (!listing.listed) listing.note = "no regular file to list";
        return Emit(listing, emit);
    }
    if (options.all) return ExamineAll(file, emit);

    listing.located = true;
    ListingDisplay display(listing);
    if (options.inPlace) {
        try {
            support::FileStream input(file, support::FileMode::OpenReadExclusive);
            listing.offset = locator::LocateArchive(input, display);
            if (listing.offset >= 0) ListInPlace(listing, input, listing.offset);
        } catch (const support::Exception& error) {
            display.ShowMessage(ExceptText(error));
        }
    } else {
        listing.offset = locator::Rip_ARC_Archive(file, display);
        if (listing.offset >= 0) ListFile(listing, support::SideFilePath(file));
    }
    return Emit(listing, emit);
}

}  // namespace vexmira::cli
