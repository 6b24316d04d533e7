#pragma once
// What the views for people (plain output, the summary table, the page) show
// of a listing, decided once: the entries past the plausible end folded into
// one line, names cut to a column, a method byte the table does not know as
// its number, and what the locator passed over. JSON and CSV show everything.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "listing/examine.hpp"

namespace vexmira::report {

// Whether a view leaves out the entries past the plausible end (and says how
// many there were): a view for people does unless told to show them; JSON
// and CSV only when told to hide them.
constexpr bool FoldsSuspect(bool forPeople, bool hideSuspect, bool showSuspect) noexcept {
    return forPeople ? !showSuspect : hideSuspect;
}

// The line that stands for `count` folded entries; `howToList` says how to
// see them ("--show-suspect lists them", a toggle on the page).
std::string FoldedEntriesLine(std::uint64_t count, std::string_view howToList);

// Names in tables are cut to this many characters: a name of trailing bytes
// may be 32,767 characters long.
inline constexpr std::size_t kNameWidth = 40;

// Tables show this many of a SHA-256's hex digits: enough to tell entries
// apart by eye; JSON, CSV and an entry's details have it whole.
inline constexpr std::size_t kShortDigest = 16;

// `shown` (UTF-8, as shown on a terminal) cut to `width` characters, the
// last of them "…", when it is longer; whole otherwise.
std::string CutName(std::string_view shown, std::size_t width = kNameWidth);

// A method byte as tables show it: the dialog's name for the methods the
// identifier table knows, the number for any other (the dialog's button
// would say "LZH5" for any byte past 2).
std::string_view MethodCell(std::uint8_t method);

// What the locator's block scan passed over in the bytes it read, and the
// way to see it, for standard error; none when it passed over nothing or
// the listing did not come from the block scan.
std::optional<std::string> PassedOverNote(const listing::ListingHead& head);

}  // namespace vexmira::report
