#include "report/summary.hpp"

#include <cstdio>
#include <string>

#include "report/json.hpp"
#include "report/text.hpp"
#include "report/trouble.hpp"
#include "report/views.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;
using listing::Outcome;
using listing::ShiftedCopies;

void SummaryReport::Begin(const ListingHead&) {
    entries_ = 0;
    suspect_ = 0;
}

void SummaryReport::Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view> suspect) {
    ++entries_;
    if (suspect) ++suspect_;
}

void SummaryReport::End(const ListingHead& head, const ListingEnd& end) {
    std::string& out = out_.Buffer();
    if (json_) {
        out += "{\"schema_version\":\"";
        out += kSchemaVersion;
        out += "\",\"file\":";
        AppendJsonString(out, head.File, head.PathEncoding);
        out += ",\"path_encoding\":\"";
        out += EncodingName(head.PathEncoding);
        out += "\",\"offset\":";
        if (head.Offset >= 0) {
            AppendNumber(out, head.Offset);
        } else {
            out += "null";
        }
        out += ",\"entry_count\":";
        AppendNumber(out, static_cast<std::int64_t>(entries_));
        out += ",\"suspect_count\":";
        AppendNumber(out, static_cast<std::int64_t>(suspect_));
        out += ",\"passed_over\":";
        if (head.PassedOver) {
            AppendJsonString(out, *head.PassedOver, Encoding::Latin1);
        } else {
            out += "null";
        }
        for (const auto& [key, count] : {std::pair{",\"passed_over_count\":", head.PassedOverCount},
                                         std::pair{",\"replaced_candidates\":", head.ReplacedCandidates}}) {
            out += key;
            if (count) {
                AppendNumber(out, static_cast<std::int64_t>(*count));
            } else {
                out += "null";
            }
        }
        out += ",\"plausible_end\":";
        if (end.Walk) {
            AppendNumber(out, end.PlausibleEnd);
        } else {
            out += "null";
        }
        out += ",\"error\":";
        if (end.Error) {
            AppendJsonString(out, end.Error->Bytes, end.Error->FromArchive() ? Encoding::Latin1 : head.PathEncoding);
        } else {
            out += "null";
        }
        out += "}\n";
        out_.Commit();
        SayPassedOver(head);
        return;
    }
    // Folded, the entries past the plausible end are counted, not listed.
    const std::uint64_t suspect = end.TrailingFolded ? end.TrailingEntries : suspect_;
    char line[96];
    const std::string offset = head.Offset >= 0 ? std::to_string(head.Offset) : std::string("-");
    const std::string plausible = end.Walk ? std::to_string(end.PlausibleEnd) : std::string("-");
    std::snprintf(line, sizeof line, "%-10s  %7llu  %7llu  %13s  ", offset.c_str(), static_cast<unsigned long long>(entries_),
                  static_cast<unsigned long long>(suspect), plausible.c_str());
    out += line;
    AppendTerminalText(out, head.File, head.PathEncoding);
    if (end.Error) {
        out += "  (";
        if (end.Error->NotAnArchive()) out += "not an archive: ";
        AppendTerminalText(out, end.Error->Bytes, end.Error->FromArchive() ? Encoding::Latin1 : head.PathEncoding);
        out += ')';
    } else if (end.Result == Outcome::NotFound) {
        out += "  (no archive found)";
    } else if (head.PassedOver) {
        out += "  (passed over by the locator: " + TerminalText(*head.PassedOver, Encoding::Latin1) + ")";
    }
    out += '\n';
    out_.Commit();
    SayPassedOver(head);
}

void SummaryReport::SayPassedOver(const ListingHead& head) {
    if (quiet_) return;
    if (const std::optional<std::string> note = PassedOverNote(head)) out_.ErrorLine(ErrorLineText(head, listing::Text{*note}));
}

}  // namespace vexmira::report
