#include "report/summary.hpp"

#include <cstdio>
#include <string>

#include "report/json.hpp"
#include "report/text.hpp"

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
        return;
    }
    char line[96];
    const std::string offset = head.Offset >= 0 ? std::to_string(head.Offset) : std::string("-");
    const std::string plausible = end.Walk ? std::to_string(end.PlausibleEnd) : std::string("-");
    std::snprintf(line, sizeof line, "%-10s  %7llu  %7llu  %13s  ", offset.c_str(), static_cast<unsigned long long>(entries_),
                  static_cast<unsigned long long>(suspect_), plausible.c_str());
    out += line;
    AppendTerminalText(out, head.File, head.PathEncoding);
    if (end.Error) {
        out += "  (";
        if (end.Error->NotAnArchive()) out += "not an archive: ";
        AppendTerminalText(out, end.Error->Bytes, end.Error->FromArchive() ? Encoding::Latin1 : head.PathEncoding);
        out += ')';
    } else if (end.Result == Outcome::NotFound) {
        out += "  (no archive found)";
    }
    out += '\n';
    out_.Commit();
}

}  // namespace vexmira::report
