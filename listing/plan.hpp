#pragma once
// What a listing will do, decided before it reads a byte: the route a name
// takes, and what --carve writes for an archive once its walk is over. Every
// front end (the tool, the module, the page) asks here instead of deciding.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/compress.hpp"

namespace vexmira::listing {

enum class Route {
    Direct,      // a name ending in ".ARC": the whole file is the archive, listed from its start
    Located,     // any other name: the locator finds the archive in it
    AtOffset,    // an offset was given: the archive there, in place, without the locator
    Candidates,  // --all on a name that is not ".ARC": every candidate, and every header passed over
};

// The route of `file` (support::IsArcPath decides ".ARC", case and all, as
// the dialog does), with an offset given or --all asked for.
Route RouteOf(std::string_view file, bool offsetGiven, bool all);

// Whether a listing by this route may be carved: only a located archive or
// one at a given offset, never a ".ARC" file, which is already one.
constexpr bool Carvable(Route route) noexcept { return route != Route::Direct; }

// What --carve writes for the archive at `offset`, once its walk is over:
// [Offset, End) of the file, to FILE followed by Suffix; or why nothing is
// written.
struct CarvePlan {
    std::int64_t Offset = 0;
    std::int64_t End = 0;
    std::string Suffix;                   // ".OFFSET.ARC", OFFSET as eight or more upper-case hex digits
    std::optional<std::string> Refusal;   // the reason, as the tool says it after the carve's path
};

// The plan for a walk from `offset` that listed `entries` entries and ended
// as `walk` says, with `plausibleEnd` where the archive plausibly ends: up to
// the plausible end, or with `toWalkEnd` to the walk's end (whichever lies
// further). An archive without a single entry has nothing worth carving.
CarvePlan PlanCarve(std::int64_t offset, const archive::WalkSummary& walk, std::int64_t plausibleEnd,
                    std::uint64_t entries, bool toWalkEnd);

// The refusal for a range [offset, end) with nothing in it; none otherwise.
std::optional<std::string> CarveRefusal(std::int64_t offset, std::int64_t end);

// Why a file is not written where one is already (a carve, an extraction):
// the writer's refusal, in the tool's and the module's words alike.
inline constexpr std::string_view kExistsReason = "The file exists; --force replaces it";

// ".OFFSET.ARC" for the carve of the archive at `offset`.
std::string CarveSuffix(std::int64_t offset);

}  // namespace vexmira::listing
