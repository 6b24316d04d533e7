#include "report/csv.hpp"

#include <array>
#include <variant>

#include "listing/fields.hpp"
#include "report/text.hpp"
#include "report/trouble.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;

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

namespace {

// A field's value as a cell, by its type: nothing for null.
void AppendCsvValue(std::string& out, std::int64_t number, std::string&) { AppendNumber(out, number); }
void AppendCsvValue(std::string& out, bool flag, std::string&) { out += flag ? "true" : "false"; }
void AppendCsvValue(std::string&, std::monostate, std::string&) {}
void AppendCsvValue(std::string& out, const listing::FieldText& text, std::string& scratch) {
    if (text.From) {
        AppendCsvText(out, text.Bytes, *text.From, scratch);
    } else {
        out += text.Bytes;
    }
}
void AppendCsvValue(std::string& out, const listing::OwnText& text, std::string&) { out += text.Bytes; }
void AppendCsvValue(std::string& out, const listing::OwnString& text, std::string&) { out += text.Bytes; }
void AppendCsvValue(std::string& out, listing::Hundredths decimal, std::string&) {
    out += listing::HundredthsText(decimal.Value);
}
template <class Value>
void AppendCsvValue(std::string& out, const std::optional<Value>& value, std::string& scratch) {
    if (value) AppendCsvValue(out, *value, scratch);
}
void AppendCsvValue(std::string& out, const listing::FieldValue& value, std::string& scratch) {
    std::visit([&](const auto& held) { AppendCsvValue(out, held, scratch); }, value);
}

template <class Row, std::size_t Size>
void AppendColumns(std::string& out, const std::array<Row, Size>& rows, bool hashes) {
    for (const Row& row : rows) {
        if (row.CsvColumn.empty() || (row.WithHashes && !hashes)) continue;
        if (!out.empty()) out += ',';
        out += row.CsvColumn;
    }
}

}  // namespace

std::string CsvHeader(bool hashes) {
    std::string header;
    AppendColumns(header, listing::kHeadFields, hashes);
    AppendColumns(header, listing::kEntryFields, hashes);
    return header + "\r\n";
}

void CsvReport::Begin(const ListingHead& head) {
    prefix_.clear();
    listing::ForEachHeadField(head, [&](const auto& row, const listing::FieldValue& value) {
        if (row.CsvColumn.empty()) return;
        AppendCsvValue(prefix_, value, scratch_);
        prefix_ += ',';
    });
}

void CsvReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                      std::optional<std::string_view> suspect) {
    AddEntry({name, info, suspect});
}

void CsvReport::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                              std::optional<std::string_view> suspect, const listing::StoredData& data) {
    AddEntry({name, info, suspect, &data});
}

void CsvReport::AddEntry(const listing::EntryView& entry) {
    std::string& out = out_.Buffer();
    out += prefix_;
    bool first = true;
    listing::ForEachEntryField(entry, [&](auto index, const auto& value) {
        if constexpr (listing::kEntryFields[index].CsvColumn.empty()) return;
        if (!first) out += ',';
        first = false;
        AppendCsvValue(out, value, scratch_);
    });
    out += "\r\n";
    out_.Commit();
}

void CsvReport::End(const ListingHead& head, const ListingEnd& end) { ReportTrouble(out_, head, end, quiet_); }

}  // namespace vexmira::report
