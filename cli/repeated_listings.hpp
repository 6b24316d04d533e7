#pragma once
// With --all, a file made of one small archive over and over has a candidate
// every few bytes, and each one's walk joins the walk before it at once. Their
// listings differ only by where they lie; RepeatedListings folds each run of
// them into its first listing and the count and spacing of the rest.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/examine.hpp"

namespace vexmira::cli {

// A listing of one entry that joins an earlier walk, with nothing else to
// say, reduced to what the next one must repeat to fold into it.
struct JoiningListing {
    ListingHead Head;
    std::string Name;
    archive::TCompressedFileInfo Info;
    std::optional<std::string> Suspect;
    std::int64_t Joins = 0;

    // True when `next` is this listing moved `shift` bytes on: its offset, its
    // entry's header and its join all `shift` further, everything else equal.
    bool RepeatsAt(const JoiningListing& next, std::int64_t shift) const;
};

// Passes listings on to `out`, holding back runs of repeated joining
// listings: a run of two or more goes on as its first listing with AlsoAt
// set. Finish passes on what is held back; call it before anything else is
// written to `out`'s output.
class RepeatedListings final : public ListingSink {
public:
    explicit RepeatedListings(ListingSink& out) : out_(out) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void End(const ListingHead& head, const ListingEnd& end) override;
    void Finish();

private:
    void PassOnHeld();  // the current listing's head and entry, as they came

    ListingSink& out_;
    // The listing now coming in: held while it may still fold.
    std::optional<JoiningListing> current_;
    bool entry_held_ = false;
    bool passing_ = false;  // the current listing goes straight to out_
    // The run held back: its first listing, how many follow and how far apart.
    std::optional<JoiningListing> run_;
    std::uint64_t run_more_ = 0;
    std::int64_t run_every_ = 0;
};

}  // namespace vexmira::cli
