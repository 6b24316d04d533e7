#include "report/trouble.hpp"

#include "listing/fields.hpp"
#include "report/text.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;
using listing::Outcome;
using listing::ShiftedCopies;
using listing::Text;

std::string RunSpan(std::int64_t first, const ShiftedCopies& more) {
    return "every " + NumberText(more.Every) + " bytes from " + NumberText(listing::SaturatingAdd(first, more.Every)) +
           " to " + NumberText(listing::SaturatingAdd(first, listing::SaturatingTimes(more.Every, more.Count)));
}

std::string ErrorLineText(const ListingHead& head, const Text& error) {
    std::string line = "vexmira: ";
    AppendTerminalText(line, head.File, head.PathEncoding);
    line += ": ";
    if (error.NotAnArchive()) line += "not an archive: ";
    AppendTerminalText(line, error.Bytes, TextEncoding(error, head));
    return line;
}

void ReportTrouble(LineOutput& out, const ListingHead& head, const ListingEnd& end, bool quiet) {
    if (end.Error) {
        std::string line = ErrorLineText(head, *end.Error);
        if (end.AlsoAt) {
            // A folded run of failed candidates is said once.
            line += " (the same for " + NumberText(static_cast<std::int64_t>(end.AlsoAt->Count)) + " more, " +
                    RunSpan(head.Offset, *end.AlsoAt) + ")";
        }
        out.ErrorLine(line);
    } else if (end.Result == Outcome::NotFound && !quiet) {
        out.ErrorLine(ErrorLineText(head, Text{"no archive found"}));
    }
}

}  // namespace vexmira::report
