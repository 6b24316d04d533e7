// The field table against what each consumer promises: the JSON schema's
// properties, the CSV header, and the order the JSON report writes.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "listing/fields.hpp"
#include "report/csv.hpp"
#include "report/json.hpp"
#include "support/memory_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::listing {
namespace {

using Json = nlohmann::ordered_json;  // keys in the order written

Json Schema() {
    std::ifstream in(VEXMIRA_SCHEMA);
    return Json::parse(in);
}

std::vector<std::string> KeysOf(const Json& properties) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : properties.items()) keys.push_back(key);
    return keys;
}

// The keys a listing has, with or without --hash.
template <class Rows>
std::vector<std::string> JsonKeys(const Rows& rows, bool hashes = true) {
    std::vector<std::string> keys;
    for (const auto& row : rows) {
        if (hashes || !row.WithHashes) keys.emplace_back(row.JsonKey);
    }
    return keys;
}

// Collects what a report writes.
class StringOutput final : public report::LineOutput {
public:
    StringOutput() : LineOutput(kFileChunk) {}
    std::string Lines;
    std::string Errors;

protected:
    void Send(const char* data, std::size_t size) override { Lines.append(data, size); }
    void SendError(std::string_view line) override { Errors.append(line); }
};

// An archive of two entries, one locked and one past 2 GiB, in a carrier.
std::vector<std::uint8_t> Sample() {
    testing::ArchiveBuilder archive;
    archive.Add("first.txt", 1000, 10).Add("second.bin", 0x90000000, 20, 2, true);
    return testing::Carrier(300, archive.Build(), 7);
}

TEST(FieldTable, EveryEntryKeyIsTheSchemasAndTheSchemaHasNoOtherButAlsoAt) {
    const Json entry = Schema()["$defs"]["entry"]["properties"];
    std::vector<std::string> schema = KeysOf(entry);
    std::erase(schema, "also_at");  // a fold's, written after the table's fields
    std::vector<std::string> table = JsonKeys(kEntryFields);
    EXPECT_EQ(std::set(table.begin(), table.end()), std::set(schema.begin(), schema.end()));
    EXPECT_EQ(table.size(), std::set(table.begin(), table.end()).size()) << "a key twice in the table";
}

TEST(FieldTable, EveryHeadKeyIsTheSchemasListingProperty) {
    const Json listing = Schema()["$defs"]["listing"];
    for (const auto& row : kHeadFields) {
        const std::string key(row.JsonKey);
        EXPECT_TRUE(listing["properties"].contains(key)) << key << " is not in the schema";
        // Those --hash adds are not there without it.
        EXPECT_EQ(std::find(listing["required"].begin(), listing["required"].end(), key) != listing["required"].end(),
                  !row.WithHashes)
            << key << ": required by the schema exactly when it is always written";
    }
}

TEST(FieldTable, CsvColumnsAreTheCsvHeader) {
    for (const bool hashes : {false, true}) {
        std::string header;
        for (const auto& row : kHeadFields) {
            if (!row.CsvColumn.empty() && (hashes || !row.WithHashes)) header += std::string(row.CsvColumn) + ",";
        }
        for (const auto& row : kEntryFields) {
            if (!row.CsvColumn.empty() && (hashes || !row.WithHashes)) header += std::string(row.CsvColumn) + ",";
        }
        header.back() = '\r';
        header += '\n';
        EXPECT_EQ(header, report::CsvHeader(hashes)) << "hashes " << hashes;
        if (!hashes) {
            EXPECT_EQ(header, report::kCsvHeader);
        }
    }
}

class JsonAndCsv : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(WithAndWithoutHashes, JsonAndCsv, ::testing::Bool());

TEST_P(JsonAndCsv, WriteTheTablesFieldsInItsOrderWithTheSameValues) {
    const bool hashes = GetParam();
    support::MemoryStream input(Sample());
    Options options;
    options.Input = &input;
    options.Hashes = hashes;
    StringOutput jsonOut;
    report::JsonReport json(jsonOut);
    ASSERT_EQ(Examine("sample.exe", options, json), Outcome::Listed) << jsonOut.Errors;
    jsonOut.Flush();
    const Json listing = Json::parse(jsonOut.Lines);

    // The head's keys: the version, the table's, then what only JSON says.
    std::vector<std::string> head = KeysOf(listing);
    std::vector<std::string> expected = {"schema_version"};
    for (const std::string& key : JsonKeys(kHeadFields, hashes)) expected.push_back(key);
    head.resize(expected.size());
    EXPECT_EQ(head, expected);
    ASSERT_EQ(listing["entries"].size(), 2U);
    for (const Json& entry : listing["entries"]) EXPECT_EQ(KeysOf(entry), JsonKeys(kEntryFields, hashes));

    // A binding's loop over the rows at run time gives the same values.
    support::MemoryStream again(Sample());
    class Rows final : public ListingSink {
    public:
        void Begin(const ListingHead&) override {}
        void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                   std::optional<std::string_view> suspect) override {
            Add({name, info, suspect});
        }
        void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const StoredData& data) override {
            Add({name, info, suspect, &data});
        }
        void Add(const EntryView& entry) {
            Json& object = Entries.emplace_back(Json::object());
            std::string scratch;
            for (const auto& row : kEntryFields) {
                if (row.WithHashes && entry.Data == nullptr) continue;
                const FieldValue value = EntryFieldValue(row.Field, entry, scratch);
                Json& cell = object[std::string(row.JsonKey)];
                if (const auto* number = std::get_if<std::int64_t>(&value)) cell = *number;
                if (const auto* flag = std::get_if<bool>(&value)) cell = *flag;
                if (const auto* text = std::get_if<FieldText>(&value)) cell = std::string(text->Bytes);  // ASCII here
                if (const auto* decimal = std::get_if<Hundredths>(&value)) cell = static_cast<double>(decimal->Value) / 100;
            }
        }
        void End(const ListingHead&, const ListingEnd&) override {}
        std::vector<Json> Entries;
    } byRow;
    options.Input = &again;
    Examine("sample.exe", options, byRow);
    ASSERT_EQ(byRow.Entries.size(), 2U);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(byRow.Entries[i], listing["entries"][i]) << "entry " << i;
    options.Input = &input;

    StringOutput csvOut;
    report::CsvReport csv(csvOut, false);
    input.Seek(0, support::SeekOrigin::Beginning);
    ASSERT_EQ(Examine("sample.exe", options, csv), Outcome::Listed);
    csvOut.Flush();
    // Each row's cells are the JSON values as text (nothing here needs quoting).
    std::vector<std::string> rows;
    for (std::size_t start = 0; start < csvOut.Lines.size();) {
        const std::size_t end = csvOut.Lines.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        rows.push_back(csvOut.Lines.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(rows.size(), 2U);
    const auto cell = [](const Json& value) {
        if (value.is_number_float()) {  // entropy, written with two places
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", value.get<double>());
            return std::string(text);
        }
        return value.is_null() ? std::string() : value.is_string() ? value.get<std::string>() : value.dump();
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string fromJson;
        for (const auto& row : kHeadFields) {
            if (!row.CsvColumn.empty() && (hashes || !row.WithHashes)) fromJson += cell(listing[std::string(row.JsonKey)]) + ",";
        }
        for (const std::string& key : JsonKeys(kEntryFields, hashes)) fromJson += cell(listing["entries"][i][key]) + ",";
        fromJson.pop_back();
        EXPECT_EQ(rows[i], fromJson) << "row " << i;
    }
}

// MostEntriesIn splits work before anything is read: a listing that hands
// over more entries than it allows would overfill a part.
TEST(MostEntriesIn, BoundsTheDensestArchiveExactly) {
    class Counter final : public ListingSink {
    public:
        void Begin(const ListingHead&) override {}
        void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {
            ++Count;
        }
        void End(const ListingHead&, const ListingEnd&) override {}
        std::uint64_t Count = 0;
    };
    const auto listed = [](const vexmira::testing::Bytes& bytes) {
        support::MemoryStream input(bytes);
        Options options;
        options.Input = &input;
        Counter counter;
        Examine("dense.ARC", options, counter);
        return counter.Count;
    };
    for (const std::size_t entries : {1U, 2U, 7U, 300U}) {
        vexmira::testing::ArchiveBuilder dense;
        for (std::size_t i = 0; i < entries; ++i) dense.Add("", 0, 0, 0);
        const vexmira::testing::Bytes bytes = dense.Build();
        const auto size = static_cast<std::int64_t>(bytes.size());
        EXPECT_EQ(listed(bytes), entries) << entries;
        EXPECT_EQ(MostEntriesIn(size), entries) << "size " << size;
        EXPECT_EQ(MostEntriesIn(size - 1), entries - 1) << "size " << size - 1;
        // The last entry's data past the end still counts: its header is whole.
        vexmira::testing::ArchiveBuilder pastEnd = dense;
        pastEnd.Add(vexmira::testing::EntrySpec{.name = "", .compressed_size = 1000, .data_bytes = 0});
        const vexmira::testing::Bytes cut = pastEnd.Build();
        EXPECT_EQ(listed(cut), entries + 1);
        EXPECT_LE(listed(cut), MostEntriesIn(static_cast<std::int64_t>(cut.size())));
    }
    EXPECT_EQ(MostEntriesIn(0), 0U);
    EXPECT_EQ(MostEntriesIn(-5), 0U);
    EXPECT_EQ(MostEntriesIn(21), 0U);
}

}  // namespace
}  // namespace vexmira::listing
