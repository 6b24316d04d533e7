#include "report/json.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <type_traits>
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

// A field's value as JSON, by its type.
void AppendJsonValue(std::string& out, std::int64_t number) { AppendNumber(out, number); }
void AppendJsonValue(std::string& out, bool flag) { out += flag ? "true" : "false"; }
void AppendJsonValue(std::string& out, std::monostate) { out += "null"; }
void AppendJsonValue(std::string& out, const listing::FieldText& text) {
    if (text.From) {
        AppendJsonString(out, text.Bytes, *text.From);
    } else {
        out += '"';
        out += text.Bytes;
        out += '"';
    }
}
void AppendJsonValue(std::string& out, const listing::OwnText& text) {
    out += '"';
    out += text.Bytes;
    out += '"';
}
void AppendJsonValue(std::string& out, listing::Hundredths decimal) { out += listing::HundredthsText(decimal.Value); }
template <class Value>
void AppendJsonValue(std::string& out, const std::optional<Value>& value) {
    if (value) {
        AppendJsonValue(out, *value);
    } else {
        out += "null";
    }
}
void AppendJsonValue(std::string& out, const listing::FieldValue& value) {
    std::visit([&](const auto& held) { AppendJsonValue(out, held); }, value);
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

// `,"key":` of entry field Index (without the comma for the first), made at
// compile time so that each is copied as a constant.
template <std::size_t Index>
struct EntryKey {
    static constexpr std::string_view Key = listing::kEntryFields[Index].JsonKey;
    static constexpr std::size_t Size = Key.size() + (Index == 0 ? 3 : 4);
    static constexpr std::array<char, Size> Text = [] {
        std::array<char, Size> text{};
        std::size_t at = 0;
        if (Index != 0) text[at++] = ',';
        text[at++] = '"';
        for (const char c : Key) text[at++] = c;
        text[at++] = '"';
        text[at] = ':';
        return text;
    }();
};

// An entry's row, laid out in a buffer on the stack and appended to the
// output in few pieces: this runs for every entry, and an append per key
// and value costs more than the rest.
class RowWriter {
public:
    explicit RowWriter(std::string& out) noexcept : out_(out) {}
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;
    ~RowWriter() { Flush(); }

    template <std::size_t Size>
    void Put(const std::array<char, Size>& text) {
        static_assert(Size <= kBytes);
        Room(Size);
        std::memcpy(at_, text.data(), Size);
        at_ += Size;
    }
    void Put(char c) {
        Room(1);
        *at_++ = c;
    }
    void Put(std::string_view text) {
        if (text.size() > kBytes / 2) {
            Flush();
            out_.append(text);
            return;
        }
        Room(text.size());
        for (const char c : text) *at_++ = c;  // short: a loop beats a call
    }
    void Number(std::int64_t value) {
        Room(20);
        at_ = std::to_chars(at_, at_ + 20, value).ptr;
    }
    // The output itself, for what goes there directly.
    std::string& Out() {
        Flush();
        return out_;
    }

private:
    static constexpr std::size_t kBytes = 512;
    void Room(std::size_t size) {
        if (size > static_cast<std::size_t>(buffer_ + kBytes - at_)) Flush();
    }
    void Flush() {
        out_.append(buffer_, static_cast<std::size_t>(at_ - buffer_));
        at_ = buffer_;
    }

    std::string& out_;
    char buffer_[kBytes];
    char* at_ = buffer_;
};

void PutJsonValue(RowWriter& row, std::int64_t number) { row.Number(number); }
void PutJsonValue(RowWriter& row, bool flag) {
    static constexpr std::array<char, 4> kTrue = {'t', 'r', 'u', 'e'};
    static constexpr std::array<char, 5> kFalse = {'f', 'a', 'l', 's', 'e'};
    if (flag) {
        row.Put(kTrue);
    } else {
        row.Put(kFalse);
    }
}
void PutJsonValue(RowWriter& row, const listing::FieldText& text) {
    std::string& out = row.Out();
    if (text.From) {
        AppendJsonString(out, text.Bytes, *text.From);
    } else {
        AppendJsonValue(out, listing::OwnText{text.Bytes});
    }
}
void PutJsonValue(RowWriter& row, std::string_view ownWords) {
    row.Put('"');
    row.Put(ownWords);
    row.Put('"');
}
void PutJsonValue(RowWriter& row, const listing::OwnText& text) { PutJsonValue(row, text.Bytes); }
void PutJsonValue(RowWriter& row, const listing::OwnString& text) { PutJsonValue(row, std::string_view(text.Bytes)); }
// Only with --hash, where the entry's data was read: a string costs nothing.
void PutJsonValue(RowWriter& row, listing::Hundredths decimal) { row.Put(listing::HundredthsText(decimal.Value)); }
template <class Value>
void PutJsonValue(RowWriter& row, const std::optional<Value>& value) {
    static constexpr std::array<char, 4> kNull = {'n', 'u', 'l', 'l'};
    if (value) {
        PutJsonValue(row, *value);
    } else {
        row.Put(kNull);
    }
}

// An entry's fields, keys and values, as its object holds them.
void PutEntryFields(RowWriter& row, const listing::EntryView& entry) {
    listing::ForEachEntryField(entry, [&](auto index, const auto& value) {
        row.Put(EntryKey<index>::Text);
        PutJsonValue(row, value);
    });
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

void AppendJsonEntryFields(std::string& out, const listing::EntryView& entry) {
    RowWriter row(out);
    PutEntryFields(row, entry);
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
    {
        RowWriter row(out_.Buffer());
        if (!first_entry_) row.Put(',');
        row.Put('{');
        first_entry_ = false;
        PutEntryFields(row, {name, info, suspect, data});
        if (more.Count > 0) AppendAlsoAt(row.Out(), more);
        row.Put('}');
    }
    out_.Commit();
}

void JsonReport::End(const ListingHead& head, const ListingEnd& end) {
    std::string& out = out_.Buffer();
    out += ']';
    static const auto keys = KeyPrefixes(listing::kEndFields, false);
    for (const auto& row : listing::kEndFields) {
        out += keys[static_cast<std::size_t>(&row - listing::kEndFields.data())];
        AppendJsonValue(out, listing::EndFieldValue(row.Field, head, end));
    }
    listing::ForEachEndMember(head, end, [&](const listing::EndMember& member) {
        out += ",\"";
        out += member.Key;
        out += "\":";
        if (!member.IsObject) {
            AppendJsonValue(out, member.Value);
            return;
        }
        for (std::size_t i = 0; i < member.MemberCount; ++i) {
            out += i == 0 ? "{\"" : ",\"";
            out += member.Members[i].first;
            out += "\":";
            AppendJsonValue(out, member.Members[i].second);
        }
        out += '}';
    });
    out += "}\n";
    out_.Commit();
}

}  // namespace vexmira::report
