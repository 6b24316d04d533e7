#pragma once
// Output for triage: a CSV row per entry, its columns the field table's
// (listing/fields.hpp).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "report/output.hpp"

namespace vexmira::report {

// One field of a CSV record as RFC 4180 has it: quoted, with quotes doubled,
// when it holds a comma, a quote or a control character.
void AppendCsvField(std::string& out, std::string_view utf8);

// The first line of a run's CSV, written once before anything else,
// whatever the filters leave out.
inline constexpr std::string_view kCsvHeader =
    "file,path_encoding,listed,offset,located,passed_over,compress_id,size_value,long13,flags,archive_header_size,"
    "name,full_size,compressed_size,method,method_id,method_name,locked,header_offset,header_size,data_offset,long2,word6,"
    "long17,percentage,percent_compressed,size,suspect\r\n";

// The header for a run with or without --hash: kCsvHeader, or with the
// hashed columns (input_sha256 after the head's, sha256, entropy and
// data_error after the entry's).
std::string CsvHeader(bool hashes);

// One record per entry, fields as in JSON, lines ending in CRLF. Texts from
// the file, the archive or the file system (file, listed, passed_over,
// compress_id, name) are decoded as in JSON and shown as plain output shows
// them, control characters as \xNN, with a leading ' when they start with
// =, +, -, @, tab or carriage return; numbers stay numbers. JSON is the lossless form. A listing that
// failed or found nothing says so on standard error, as plain output does.
class CsvReport final : public listing::ListingSink {
public:
    CsvReport(LineOutput& out, bool quiet) : out_(out), quiet_(quiet) {}
    void Begin(const listing::ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

private:
    void AddEntry(const listing::EntryView& entry);

    LineOutput& out_;
    bool quiet_;
    std::string prefix_;   // the listing's fields, the same on every row
    std::string scratch_;   // a text on its way into a cell, reused
};

}  // namespace vexmira::report
