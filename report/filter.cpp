#include "report/filter.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;
using listing::Outcome;
using listing::ShiftedCopies;

void FilterSink::Begin(const ListingHead& head) {
    begun_ = false;
    past_plausible_end_ = false;
    hidden_ = 0;
    head_ = &head;
    if (!only_found_) {
        begun_ = true;
        inner_.Begin(head);
    }
}

bool FilterSink::Shows(std::optional<std::string_view> suspect) {
    if (!begun_) {
        begun_ = true;
        inner_.Begin(*head_);
    }
    if (hide_suspect_ && (past_plausible_end_ || suspect)) {
        past_plausible_end_ = true;
        return false;
    }
    return true;
}

void FilterSink::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect) {
    if (Shows(suspect)) {
        inner_.Entry(name, info, suspect);
    } else {
        ++hidden_;
    }
}

void FilterSink::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                               std::optional<std::string_view> suspect, const listing::StoredData& data) {
    if (Shows(suspect)) {
        inner_.EntryWithData(name, info, suspect, data);
    } else {
        ++hidden_;
    }
}

void FilterSink::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    if (Shows(suspect)) {
        inner_.EntryRun(name, info, suspect, more);
    } else {
        hidden_ += more.Count + 1;
    }
}

void FilterSink::End(const ListingHead& head, const ListingEnd& end) {
    if (only_found_ && end.Result == Outcome::NotFound) return;
    if (!begun_) inner_.Begin(head);
    if (hidden_ > 0) {
        // What was left out is what the end counts as trailing (a last entry
        // whose data the file cuts short is suspect too, though no trailer's).
        ListingEnd shown = end;
        shown.TrailingEntries = hidden_;
        shown.TrailingFolded = true;
        inner_.End(head, shown);
        return;
    }
    inner_.End(head, end);
}

}  // namespace vexmira::report
