#include "cli/repeated_listings.hpp"

#include <limits>
#include <utility>

namespace vexmira::cli {

namespace {

// Every field but the header offset.
bool SameFields(const archive::TCompressedFileInfo& a, const archive::TCompressedFileInfo& b) {
    return a.Long2 == b.Long2 && a.Word6 == b.Word6 && a.FullSize == b.FullSize &&
           a.CompressedSize == b.CompressedSize && a.Method == b.Method && a.Long17 == b.Long17 &&
           a.HeaderSize == b.HeaderSize && a.Locked == b.Locked;
}

bool SameInfo(archive::TCompressedFileInfo a, const archive::TCompressedFileInfo& b, std::int64_t shift) {
    a.HeaderOffset += shift;
    return a.HeaderOffset == b.HeaderOffset && SameFields(a, b);
}

// Only a plain listing of a located candidate may stand for others: nothing
// in it but its offset and entry may tell it apart.
bool MayFold(const ListingHead& head) {
    return head.Located && head.Listed && head.Offset >= 0 && head.ListedOrigin == 0 && !head.PassedOver &&
           head.Messages.empty();
}

std::optional<std::string_view> AsView(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

}  // namespace

bool JoiningListing::RepeatsAt(const JoiningListing& next, std::int64_t shift) const {
    return shift > 0 && next.Head.Offset - Head.Offset == shift && next.Joins - Joins == shift &&
           next.Head.File == Head.File && next.Head.Listed == Head.Listed && next.Name == Name &&
           next.Suspect == Suspect && SameInfo(Info, next.Info, shift);
}

void RepeatedListings::Begin(const ListingHead& head) {
    entry_held_ = false;
    passing_ = !MayFold(head);
    if (passing_) {
        Finish();
        out_.Begin(head);
        return;
    }
    current_.emplace();
    current_->Head = head;
}

void RepeatedListings::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                             std::optional<std::string_view> suspect) {
    if (!passing_ && !entry_held_) {
        current_->Name = std::string(name);
        current_->Info = info;
        if (suspect) current_->Suspect = std::string(*suspect);
        entry_held_ = true;
        return;
    }
    if (!passing_) {
        // A second entry: this listing is not one to fold.
        Finish();
        PassOnHeld();
    }
    out_.Entry(name, info, suspect);
}

void RepeatedListings::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                                std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    if (!passing_) {
        Finish();
        PassOnHeld();
    }
    out_.EntryRun(name, info, suspect, more);
}

void RepeatedListings::End(const ListingHead& head, const ListingEnd& end) {
    const bool folds = !passing_ && entry_held_ && end.Joins && !end.Error && !end.Walk && !end.Carved &&
                       end.Result == Outcome::Listed;
    if (!folds) {
        if (!passing_) {
            Finish();
            PassOnHeld();
        }
        current_.reset();
        out_.End(head, end);
        return;
    }
    current_->Joins = *end.Joins;
    if (run_) {
        const std::int64_t shift = current_->Head.Offset - run_->Head.Offset -
                                   static_cast<std::int64_t>(run_more_) * run_every_;
        const std::int64_t every = run_more_ == 0 ? shift : run_every_;
        // Compared with the run's first listing moved on by the whole run.
        JoiningListing moved = *run_;
        const std::int64_t total = static_cast<std::int64_t>(run_more_) * run_every_;
        moved.Head.Offset += total;
        moved.Joins += total;
        moved.Info.HeaderOffset += total;
        if (shift == every && moved.RepeatsAt(*current_, shift)) {
            run_every_ = every;
            ++run_more_;
            current_.reset();
            return;
        }
        Finish();
    }
    run_ = std::move(current_);
    current_.reset();
    run_more_ = 0;
    run_every_ = 0;
}

void RepeatedListings::Finish() {
    if (!run_) return;
    out_.Begin(run_->Head);
    out_.Entry(run_->Name, run_->Info, AsView(run_->Suspect));
    ListingEnd end;
    end.Joins = run_->Joins;
    if (run_more_ > 0) end.AlsoAt = ShiftedCopies{run_more_, run_every_};
    out_.End(run_->Head, end);
    run_.reset();
    run_more_ = 0;
    run_every_ = 0;
}

void RepeatedListings::PassOnHeld() {
    passing_ = true;
    out_.Begin(current_->Head);
    if (entry_held_) {
        out_.Entry(current_->Name, current_->Info, AsView(current_->Suspect));
    }
}

void RepeatedEntries::Begin(const ListingHead& head) {
    held_ = false;
    out_.Begin(head);
}

void RepeatedEntries::Resume(const ListingHead& head, std::uint64_t entries) {
    held_ = false;
    out_.Resume(head, entries);
}

bool RepeatedEntries::Continues(std::string_view name, const archive::TCompressedFileInfo& info,
                                std::optional<std::string_view> suspect) const {
    // Both offsets at or past 0, so the distance cannot overflow.
    if (!held_ || last_ < 0 || info.HeaderOffset <= last_) return false;
    const std::int64_t shift = info.HeaderOffset - last_;
    return (more_.Count == 0 || shift == more_.Every) && name == name_ && suspect.has_value() == suspect_held_ &&
           (!suspect || *suspect == suspect_) && SameFields(info, info_);
}

void RepeatedEntries::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                            std::optional<std::string_view> suspect) {
    if (Continues(name, info, suspect)) {
        if (more_.Count == 0) more_.Every = info.HeaderOffset - last_;
        ++more_.Count;
        last_ = info.HeaderOffset;
        return;
    }
    EntryRun(name, info, suspect, {});
}

void RepeatedEntries::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                               std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    PassOnHeld();
    held_ = true;
    name_.assign(name);
    info_ = info;
    suspect_held_ = suspect.has_value();
    suspect_.assign(suspect.value_or(std::string_view()));
    more_ = more;
    // A run whose end cannot be told (never one a walk makes) is not extended.
    std::int64_t span = 0;
    if (more.Count > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        __builtin_mul_overflow(static_cast<std::int64_t>(more.Count), more.Every, &span) ||
        __builtin_add_overflow(info.HeaderOffset, span, &last_)) {
        last_ = -1;
    }
}

void RepeatedEntries::End(const ListingHead& head, const ListingEnd& end) {
    PassOnHeld();
    out_.End(head, end);
}

void RepeatedEntries::PassOnHeld() {
    if (!held_) return;
    held_ = false;
    const std::optional<std::string_view> suspect =
        suspect_held_ ? std::optional<std::string_view>(suspect_) : std::nullopt;
    if (more_.Count == 0) {
        out_.Entry(name_, info_, suspect);
    } else {
        out_.EntryRun(name_, info_, suspect, more_);
    }
}

}  // namespace vexmira::cli
