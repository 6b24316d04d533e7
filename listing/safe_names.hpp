#pragma once
// Entry names are bytes from the file, and may be anything: each becomes one
// safe relative file name, the same on every system we write to, and unique
// in its folder where names differ only in case. The form, applied in order:
//   - printable ASCII stays, but for / \ : * ? " < > | and %; every other
//     byte (controls, NUL, DEL, bytes from 0x80) is written %XX, upper-case
//     hex, and '%' itself is %25, so a written name never reads as another;
//   - the empty name is "%empty" (no escape looks like that);
//   - a name with its suffix longer than kLongestName bytes keeps its start
//     (never cut inside an escape) and ends "~" and 16 hex digits of the
//     SHA-256 of the original bytes;
//   - a trailing '.' or ' ' (which Windows drops; "." and ".." end so too)
//     is escaped, %2E or %20;
//   - a name whose part before the first '.', blanks dropped, is one of
//     Windows' device names (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9,
//     LPT0-9, in any case) has its first character escaped: "%43ON.TXT";
//   - the second name equal to one taken in the folder but for ASCII case
//     gets "~N" (N from 2, the first free) before its last '.', or at its end
//     when it has none, ahead of the suffix.
// Separators being escaped, a name is one part: it can name nothing outside
// its folder, no drive, no stream.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>

namespace vexmira::listing {

// NAME_MAX where we write, and Windows' limit on one name's length.
inline constexpr std::size_t kLongestName = 255;

// `bytes` in the safe form, followed by `suffix` (ASCII, itself safe, such
// as ".rle.raw"). Leaves room for a "~N" (see UniqueNames) within kLongestName.
std::string SafeName(std::string_view bytes, std::string_view suffix = {});

// The names given out in one folder.
class UniqueNames {
public:
    // `reserved`: names the folder holds already (safe ones), such as the manifest's.
    explicit UniqueNames(std::initializer_list<std::string_view> reserved = {});
    // A safe name for `bytes` with `suffix` that no earlier one equals, case aside.
    std::string Take(std::string_view bytes, std::string_view suffix = {});

private:
    std::unordered_set<std::string> taken_;  // upper-cased
};

}  // namespace vexmira::listing
