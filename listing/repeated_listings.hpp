#pragma once
// With --all, a file made of one small archive over and over has a candidate
// every few bytes, and each one's walk joins the walk before it at once, or
// stops before the next archive's header; a file of one refused header over
// and over has a failed listing every few bytes. Such listings differ only by
// where they lie; RepeatedListings folds each run of them into its first
// listing and the count and spacing of the rest. The first candidate's own
// walk may read every one of those archives' entries, each the one before it
// moved on; RepeatedEntries folds those runs the same way.

#include <cstdint>
#include <optional>
#include <string>

#include "listing/examine.hpp"

namespace vexmira::listing {

// A listing of one entry at most, with nothing else to say, reduced to what
// the next one must repeat to fold into it.
struct FoldableListing {
    ListingHead Head;
    bool HasEntry = false;
    std::string Name;
    archive::TCompressedFileInfo Info;
    std::optional<std::string> Suspect;
    ListingEnd End;

    // True when `next` is this listing moved `distance` bytes on: its offset,
    // its entry's header, and every offset of its end `distance` further (its
    // trailing bytes as much fewer), everything else equal.
    bool RepeatsAt(const FoldableListing& next, std::int64_t distance) const;
};

// Passes listings on to `out`, holding back runs of repeated listings (of a
// located candidate, without messages, a carve or more than one entry): a run
// of two or more goes on as its first listing with AlsoAt set. Finish passes on what is held back; call it before anything else is
// written to `out`'s output.
class RepeatedListings final : public ListingSink {
public:
    // `withEntry`: a listing of one entry may fold; otherwise only listings
    // without any.
    explicit RepeatedListings(ListingSink& out, bool withEntry = true) : out_(out), with_entry_(withEntry) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // A listing with a run has more than one entry: it goes straight on.
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override;
    void End(const ListingHead& head, const ListingEnd& end) override;
    void Finish();

private:
    void PassOnHeld();  // the current listing's head and entry, as they came

    ListingSink& out_;
    bool with_entry_;
    // The listing now coming in: held while it may still fold.
    std::optional<FoldableListing> current_;
    bool entry_held_ = false;
    bool passing_ = false;  // the current listing goes straight to out_
    // The run held back: its first listing, how many follow and how far apart.
    std::optional<FoldableListing> run_;
    std::uint64_t run_more_ = 0;
    std::int64_t run_every_ = 0;
};

// Passes a listing on to `out`, holding back runs of repeated entries: two or
// more consecutive entries, each the one before it with its header moved on
// by the same distance and everything else (name, suspect, every field)
// equal, go on as one EntryRun. It holds one entry at most, handed on before
// the listing's End.
class RepeatedEntries final : public ListingSink {
public:
    explicit RepeatedEntries(ListingSink& out) : out_(out) {}
    void Begin(const ListingHead& head) override;
    void Resume(const ListingHead& head, std::uint64_t entries) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    bool Continues(std::string_view name, const archive::TCompressedFileInfo& info,
                   std::optional<std::string_view> suspect) const;
    void PassOnHeld();

    ListingSink& out_;
    // The run held back: its first entry, how many follow and how far apart,
    // and the header offset of its last one. The strings keep their room
    // from one entry to the next.
    bool held_ = false;
    std::string name_;
    archive::TCompressedFileInfo info_;
    bool suspect_held_ = false;
    std::string suspect_;
    ShiftedCopies more_;
    std::int64_t last_ = 0;
};

}  // namespace vexmira::listing
