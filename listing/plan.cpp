#include "listing/plan.hpp"

#include <algorithm>

#include "locator/scan.hpp"
#include "support/path.hpp"

namespace vexmira::listing {

Route RouteOf(std::string_view file, bool offsetGiven, bool all) {
    if (offsetGiven) return Route::AtOffset;
    if (support::IsArcPath(file)) return Route::Direct;
    return all ? Route::Candidates : Route::Located;
}

CarvePlan PlanCarve(std::int64_t offset, const archive::WalkSummary& walk, std::int64_t plausibleEnd,
                    std::uint64_t entries, bool toWalkEnd) {
    CarvePlan plan;
    plan.Offset = offset;
    plan.End = entries == 0 ? offset : toWalkEnd ? std::max(walk.ArchiveEnd, plausibleEnd) : plausibleEnd;
    plan.Suffix = CarveSuffix(offset);
    plan.Refusal = CarveRefusal(offset, plan.End);
    return plan;
}

std::optional<std::string> CarveRefusal(std::int64_t offset, std::int64_t end) {
    if (end > offset) return std::nullopt;
    std::string reason = "Nothing to carve: no archive entry at offset ";
    reason += std::to_string(offset);
    reason += " of the file";
    return reason;
}

std::string CarveSuffix(std::int64_t offset) {
    std::string suffix = ".";
    suffix += locator::OffsetHex(offset);
    suffix += ".ARC";
    return suffix;
}

}  // namespace vexmira::listing
