#include "listing/repeated_listings.hpp"

#include <limits>
#include <utility>

namespace vexmira::listing {

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

namespace {

bool SameText(const std::optional<Text>& a, const std::optional<Text>& b) {
    if (!a || !b) return !a && !b;
    return a->Bytes == b->Bytes && a->Kind == b->Kind;
}

// Whether `b` says what `a` says, read `shift` bytes further on: every
// offset moved on (so its trailing bytes as much fewer), all else equal.
bool SameEndMovedOn(const ListingEnd& a, const ListingEnd& b, std::int64_t shift) {
    const bool sameWalk = a.Walk.has_value() == b.Walk.has_value() &&
                          (!a.Walk || (a.Walk->ArchiveStart + shift == b.Walk->ArchiveStart &&
                                       a.Walk->ArchiveEnd + shift == b.Walk->ArchiveEnd &&
                                       a.Walk->HeaderEnd + shift == b.Walk->HeaderEnd &&
                                       a.Walk->StreamSize == b.Walk->StreamSize && a.Walk->End == b.Walk->End &&
                                       a.PlausibleEnd + shift == b.PlausibleEnd));
    const bool sameStop = a.Stopped.has_value() == b.Stopped.has_value() &&
                          (!a.Stopped || (a.Stopped->Reason == b.Stopped->Reason &&
                                          a.Stopped->HeaderOffset + shift == b.Stopped->HeaderOffset &&
                                          a.Stopped->At + shift == b.Stopped->At));
    const bool sameJoin = a.Joins.has_value() == b.Joins.has_value() && (!a.Joins || *a.Joins + shift == *b.Joins);
    return sameWalk && sameStop && sameJoin && (a.Walk || a.PlausibleEnd == b.PlausibleEnd) &&
           SameText(a.Error, b.Error) && a.Result == b.Result && a.TrailingEntries == b.TrailingEntries &&
           a.CarvedIn == b.CarvedIn && !a.Carved && !b.Carved && !a.AlsoAt && !b.AlsoAt;
}

}  // namespace

bool FoldableListing::RepeatsAt(const FoldableListing& next, std::int64_t distance) const {
    if (distance <= 0 || next.Head.Offset - Head.Offset != distance || next.Head.File != Head.File ||
        next.Head.Listed != Head.Listed || next.HasEntry != HasEntry) {
        return false;
    }
    if (HasEntry && (next.Name != Name || next.Suspect != Suspect || !SameInfo(Info, next.Info, distance))) return false;
    return SameEndMovedOn(End, next.End, distance);
}

void RepeatedListings::Begin(const ListingHead& head) {
    entry_held_ = false;
    passing_ = !MayFold(head);
    if (passing_) {
        Finish();
        out_.Begin(head);
        return;
    }
    // Assigned over the last one, so that its strings keep their room: a run
    // may be millions of listings long.
    if (!current_) current_.emplace();
    current_->Head = head;
    current_->HasEntry = false;
    current_->Suspect.reset();
}

void RepeatedListings::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                             std::optional<std::string_view> suspect) {
    if (!passing_ && !entry_held_ && with_entry_) {
        current_->HasEntry = true;
        current_->Name.assign(name);
        current_->Info = info;
        if (suspect) current_->Suspect.emplace(*suspect);
        entry_held_ = true;
        return;
    }
    if (!passing_) {
        // A second entry (or any, when none may fold): this listing is not one to fold.
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
    const bool folds = !passing_ && !end.Carved && !end.AlsoAt;
    if (!folds) {
        if (!passing_) {
            Finish();
            PassOnHeld();
        }
        current_.reset();
        out_.End(head, end);
        return;
    }
    current_->End = end;
    if (run_) {
        const std::int64_t total = static_cast<std::int64_t>(run_more_) * run_every_;
        const std::int64_t shift = current_->Head.Offset - run_->Head.Offset - total;
        const std::int64_t every = run_more_ == 0 ? shift : run_every_;
        // Compared with the run's first listing moved on by the whole run.
        if (shift > 0 && shift == every && run_->RepeatsAt(*current_, total + shift)) {
            run_every_ = every;
            ++run_more_;
            return;
        }
        Finish();
    }
    std::swap(run_, current_);
    run_more_ = 0;
    run_every_ = 0;
}

void RepeatedListings::Finish() {
    if (!run_) return;
    out_.Begin(run_->Head);
    if (run_->HasEntry) out_.Entry(run_->Name, run_->Info, AsView(run_->Suspect));
    ListingEnd end = run_->End;
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

}  // namespace vexmira::listing
