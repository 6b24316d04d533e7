#include "report/json.hpp"

#include <array>
#include <string>
#include <variant>

#include "listing/fields.hpp"
#include "report/text.hpp"
#include "report/trouble.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;
using listing::ShiftedCopies;
using listing::WalkStop;

namespace {

// A field's value as JSON.
void AppendJsonValue(std::string& out, const listing::FieldValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        AppendNumber(out, *number);
    } else if (const auto* text = std::get_if<listing::FieldText>(&value)) {
        if (text->From) {
            AppendJsonString(out, text->Bytes, *text->From);
        } else {
            out += '"';
            out += text->Bytes;
            out += '"';
        }
    } else if (const auto* flag = std::get_if<bool>(&value)) {
        out += *flag ? "true" : "false";
    } else if (const auto* decimal = std::get_if<listing::Hundredths>(&value)) {
        out += listing::HundredthsText(decimal->Value);
    } else {
        out += "null";
    }
}

// `"key":` for each field, with the comma before it but for an object's first.
template <class Row, std::size_t Size>
std::array<std::string, Size> KeyPrefixes(const std::array<Row, Size>& rows, bool firstInObject) {
    std::array<std::string, Size> prefixes;
    for (std::size_t i = 0; i < Size; ++i) {
        prefixes[i] = (i == 0 && firstInObject ? "\"" : ",\"") + std::string(rows[i].JsonKey) + "\":";
    }
    return prefixes;
}

const std::array<std::string, listing::kHeadFields.size()>& HeadKeys() {
    static const auto keys = KeyPrefixes(listing::kHeadFields, false);
    return keys;
}

const std::array<std::string, listing::kEntryFields.size()>& EntryKeys() {
    static const auto keys = KeyPrefixes(listing::kEntryFields, true);
    return keys;
}

// An entry's "also_at" is written as a listing's is.
void AppendAlsoAt(std::string& out, const ShiftedCopies& more) {
    out += ",\"also_at\":{\"count\":";
    AppendNumber(out, static_cast<std::int64_t>(more.Count));
    out += ",\"every\":";
    AppendNumber(out, more.Every);
    out += '}';
}

}  // namespace

void AppendJsonEntryFields(std::string& out, const listing::EntryView& entry, std::string& scratch) {
    const auto& keys = EntryKeys();
    listing::ForEachEntryField(entry, scratch, [&](const auto& row, const listing::FieldValue& value) {
        out += keys[static_cast<std::size_t>(&row - listing::kEntryFields.data())];
        AppendJsonValue(out, value);
    });
}

void JsonReport::Begin(const ListingHead& head) {
    std::string& out = out_.Buffer();
    out += "{\"schema_version\":\"";
    out += kSchemaVersion;
    out += '"';
    const auto& keys = HeadKeys();
    listing::ForEachHeadField(head, [&](const auto& row, const listing::FieldValue& value) {
        out += keys[static_cast<std::size_t>(&row - listing::kHeadFields.data())];
        AppendJsonValue(out, value);
    });
    out += ",\"messages\":[";
    for (std::size_t i = 0; i < head.Messages.size(); ++i) {
        if (i > 0) out += ',';
        AppendJsonString(out, head.Messages[i].Bytes, TextEncoding(head.Messages[i], head));
    }
    out += "],\"entries\":[";
    first_entry_ = true;
    out_.Commit();
}

void JsonReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect) {
    AddEntry(name, info, suspect, {});
}

void JsonReport::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                               std::optional<std::string_view> suspect, const listing::StoredData& data) {
    AddEntry(name, info, suspect, {}, &data);
}

void JsonReport::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    AddEntry(name, info, suspect, more);
}

void JsonReport::AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more,
                          const listing::StoredData* data) {
    std::string& out = out_.Buffer();
    out += first_entry_ ? "{" : ",{";
    first_entry_ = false;
    AppendJsonEntryFields(out, {name, info, suspect, data}, scratch_);
    if (more.Count > 0) AppendAlsoAt(out, more);
    out += '}';
    out_.Commit();
}

void JsonReport::End(const ListingHead& head, const ListingEnd& end) {
    std::string& out = out_.Buffer();
    out += "],\"error\":";
    if (end.Error) {
        AppendJsonString(out, end.Error->Bytes, TextEncoding(*end.Error, head));
    } else {
        out += "null";
    }
    if (end.Walk) {
        const listing::ArchiveEnd report = listing::ReportedArchiveEnd(*end.Walk);
        out += ",\"archive_end\":";
        AppendNumber(out, report.End);
        out += report.Truncated ? ",\"truncated\":true" : ",\"truncated\":false";
        out += ",\"trailing_bytes\":";
        AppendNumber(out, report.Trailing);
        out += ",\"plausible_end\":";
        AppendNumber(out, end.PlausibleEnd);
    } else {
        out += ",\"archive_end\":null,\"truncated\":null,\"trailing_bytes\":null,\"plausible_end\":null";
    }
    if (end.Joins) {
        out += ",\"joins\":";
        AppendNumber(out, *end.Joins);
    }
    if (end.Stopped) {
        out += ",\"stopped\":{\"header_offset\":";
        AppendNumber(out, end.Stopped->HeaderOffset);
        out += end.Stopped->Reason == WalkStop::Why::Signature ? ",\"signature\":" : ",\"overlaps\":";
        AppendNumber(out, end.Stopped->At);
        out += '}';
    }
    if (end.CarvedIn) {
        out += ",\"carved_in\":";
        AppendJsonString(out, *end.CarvedIn, head.PathEncoding);
    }
    if (end.AlsoAt) AppendAlsoAt(out, *end.AlsoAt);
    out += ",\"carved\":";
    if (end.Carved) {
        out += "{\"path\":";
        AppendJsonString(out, end.Carved->Path, head.PathEncoding);
        out += ",\"size\":";
        AppendNumber(out, end.Carved->Size);
        out += ",\"sha256\":\"";
        out += end.Carved->Sha256;
        out += "\"}";
    } else {
        out += "null";
    }
    out += "}\n";
    out_.Commit();
}

}  // namespace vexmira::report
