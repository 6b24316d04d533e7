#include "cli/triage.hpp"

#include <charconv>

#include "archive/entry_text.hpp"
#include "cli/report.hpp"
#include "cli/text.hpp"

namespace vexmira::cli {

namespace {

// Spreadsheets run a cell that starts with one of these as a formula.
bool StartsFormula(std::string_view cell) noexcept {
    return !cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@' || cell[0] == '\t' ||
                             cell[0] == '\r');
}

// A text from a file or the file system: shown as on a terminal (CSV is read
// with a pager or grep as often as parsed), and with a leading ' where a
// spreadsheet would run it.
void AppendCsvText(std::string& out, std::string_view bytes, Encoding encoding, std::string& scratch) {
    scratch.clear();
    AppendTerminalText(scratch, bytes, encoding);
    if (StartsFormula(scratch)) scratch.insert(0, 1, '\'');
    AppendCsvField(out, scratch);
}

}  // namespace

void AppendCsvField(std::string& out, std::string_view utf8) {
    bool quote = false;
    for (const char c : utf8) quote = quote || c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// ---------------------------------------------------------------------------
// CSV

void CsvReport::Begin(const ListingHead& head) {
    std::string scratch;
    prefix_.clear();
    AppendCsvText(prefix_, head.File, head.PathEncoding, scratch);
    prefix_ += ',';
    prefix_ += EncodingName(head.PathEncoding);
    prefix_ += ',';
    if (head.Listed) AppendCsvText(prefix_, *head.Listed, head.PathEncoding, scratch);
    prefix_ += ',';
    if (head.Offset >= 0) AppendNumber(prefix_, head.Offset);
    prefix_ += ',';
    if (head.Located) prefix_ += head.Offset >= 0 && !head.PassedOver ? "true" : "false";
    prefix_ += ',';
    if (head.PassedOver) AppendCsvText(prefix_, *head.PassedOver, Encoding::Latin1, scratch);
    prefix_ += ',';
}

void CsvReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                      std::optional<std::string_view> suspect) {
    std::string& out = out_.Buffer();
    out += prefix_;
    thread_local std::string scratch;
    AppendCsvText(out, name, Encoding::Latin1, scratch);
    out += ',';
    AppendNumber(out, info.FullSize);
    out += ',';
    AppendNumber(out, info.CompressedSize);
    out += ',';
    AppendNumber(out, info.Method);
    out += ',';
    out += archive::MethodName(info.Method);
    out += info.Locked ? ",true," : ",false,";
    AppendNumber(out, info.HeaderOffset);
    out += ',';
    AppendNumber(out, info.HeaderSize);
    out += ',';
    AppendNumber(out, EntryDataOffset(info, name));
    out += ',';
    AppendNumber(out, info.Long2);
    out += ',';
    AppendNumber(out, info.Word6);
    out += ',';
    AppendNumber(out, info.Long17);
    out += ',';
    out += archive::PercentageText(info);
    out += ',';
    if (const std::optional<std::int32_t> percent = archive::PercentCompressed(info)) AppendNumber(out, *percent);
    out += ',';
    out += archive::SizeText(info.FullSize);
    out += ',';
    if (suspect) out += *suspect;
    out += "\r\n";
    out_.Commit();
}

void CsvReport::End(const ListingHead& head, const ListingEnd& end) { ReportTrouble(out_, head, end, quiet_); }

// ---------------------------------------------------------------------------
// Summary

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
            AppendJsonString(out, end.Error->Bytes, end.Error->FromArchive ? Encoding::Latin1 : head.PathEncoding);
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
        if (end.Error->NotAnArchive) out += "not an archive: ";
        AppendTerminalText(out, end.Error->Bytes, end.Error->FromArchive ? Encoding::Latin1 : head.PathEncoding);
        out += ')';
    } else if (end.Result == Outcome::NotFound) {
        out += "  (no archive found)";
    }
    out += '\n';
    out_.Commit();
}

// ---------------------------------------------------------------------------
// Filters

void FilterSink::Begin(const ListingHead& head) {
    begun_ = false;
    past_plausible_end_ = false;
    head_ = &head;
    if (!only_found_) {
        begun_ = true;
        inner_.Begin(head);
    }
}

bool FilterSink::Shows(std::optional<std::string_view> suspect) {
    if (!begun_) {
        begun_ = true;
        inner_.Begin(*head_);
    }
    if (hide_suspect_ && (past_plausible_end_ || suspect)) {
        past_plausible_end_ = true;
        return false;
    }
    return true;
}

void FilterSink::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect) {
    if (Shows(suspect)) inner_.Entry(name, info, suspect);
}

void FilterSink::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    if (Shows(suspect)) inner_.EntryRun(name, info, suspect, more);
}

void FilterSink::End(const ListingHead& head, const ListingEnd& end) {
    if (only_found_ && end.Result == Outcome::NotFound) return;
    if (!begun_) inner_.Begin(head);
    if (hide_suspect_ && end.TrailingEntries > 0) {
        ListingEnd shown = end;
        shown.TrailingEntries = 0;  // nothing past the plausible end is shown
        inner_.End(head, shown);
        return;
    }
    inner_.End(head, end);
}

}  // namespace vexmira::cli
