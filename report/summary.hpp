#pragma once
// One line per listing, for a view over many files.

#include <cstdint>
#include <optional>
#include <string_view>

#include "listing/examine.hpp"
#include "report/output.hpp"

namespace vexmira::report {

// The first line of the summary table, written once before anything else.
inline constexpr std::string_view kSummaryHeader = "Offset      Entries  Suspect  Plausible end  File\n";

// One line per listing: the path, the offset, the count of entries and of
// suspect ones (those folded, when they are), the plausible end and the
// error, or with --all why the locator passes the header over; as a table,
// or with `json` one object per listing. `quiet`: nothing on standard error
// about what the locator passed over, as after a table.
class SummaryReport final : public listing::ListingSink {
public:
    SummaryReport(LineOutput& out, bool json, bool quiet = false) : out_(out), json_(json), quiet_(quiet) {}
    void Begin(const listing::ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

private:
    // On standard error: what the locator passed over, and how to see it.
    void SayPassedOver(const listing::ListingHead& head);

    LineOutput& out_;
    bool json_;
    bool quiet_;
    std::uint64_t entries_ = 0;
    std::uint64_t suspect_ = 0;
};

}  // namespace vexmira::report
