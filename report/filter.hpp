#pragma once
// The filters that leave out files with no archive, or rows past the
// plausible end.

#include <cstdint>
#include <optional>
#include <string_view>

#include "listing/examine.hpp"

namespace vexmira::report {

// Passes a listing on, leaving out with `onlyFound` a listing that found no
// archive, and with `hideSuspect` every entry from the first suspect one on
// (what lies past the plausible end), so totals count up to it alone; the
// end then says they were folded.
class FilterSink final : public listing::ListingSink {
public:
    FilterSink(listing::ListingSink& inner, bool onlyFound, bool hideSuspect)
        : inner_(inner), only_found_(onlyFound), hide_suspect_(hideSuspect) {}
    void Begin(const listing::ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override;
    // Every entry of a run is as suspect as its first: shown or hidden whole.
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

private:
    // Whether the entry is shown, after beginning the listing if need be.
    bool Shows(std::optional<std::string_view> suspect);

    listing::ListingSink& inner_;
    bool only_found_;
    bool hide_suspect_;
    bool begun_ = false;
    bool past_plausible_end_ = false;
    std::uint64_t hidden_ = 0;  // entries left out of this listing
    const listing::ListingHead* head_ = nullptr;
};

}  // namespace vexmira::report
