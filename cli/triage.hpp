#pragma once
// Output for triage: a CSV row per entry, a summary line per listing, and the
// filters that leave out files with no archive or rows past the plausible end.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/examine.hpp"
#include "cli/output.hpp"

namespace vexmira::cli {

// One field of a CSV record as RFC 4180 has it: quoted, with quotes doubled,
// when it holds a comma, a quote or a control character.
void AppendCsvField(std::string& out, std::string_view utf8);

// The first line of a run's CSV and of its summary table, written once
// before anything else, whatever the filters leave out.
inline constexpr std::string_view kCsvHeader =
    "file,path_encoding,listed,offset,located,passed_over,name,full_size,compressed_size,method,method_name,locked,"
    "header_offset,header_size,data_offset,long2,word6,long17,percentage,percent_compressed,size,suspect\r\n";
inline constexpr std::string_view kSummaryHeader = "Offset      Entries  Suspect  Plausible end  File\n";

// One record per entry, fields as in JSON, lines ending in CRLF. Texts from
// the file or the file system (file, listed, passed_over, name) are decoded
// as in JSON and shown as plain output shows them, control characters as
// \xNN, with a leading ' when they start with =, +, -, @, tab or carriage
// return; numbers stay numbers. JSON is the lossless form. A listing that
// failed or found nothing says so on standard error, as plain output does.
class CsvReport final : public ListingSink {
public:
    CsvReport(LineOutput& out, bool quiet) : out_(out), quiet_(quiet) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    LineOutput& out_;
    bool quiet_;
    std::string prefix_;  // the listing's fields, the same on every row
};

// One line per listing: the path, the offset, the count of entries and of
// suspect ones, the plausible end and the error; as a table, or with `json`
// one object per listing.
class SummaryReport final : public ListingSink {
public:
    SummaryReport(LineOutput& out, bool json) : out_(out), json_(json) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    LineOutput& out_;
    bool json_;
    std::uint64_t entries_ = 0;
    std::uint64_t suspect_ = 0;
};

// Passes a listing on, leaving out with `onlyFound` a listing that found no
// archive, and with `hideSuspect` every entry from the first suspect one on
// (what lies past the plausible end), so totals count up to it alone.
class FilterSink final : public ListingSink {
public:
    FilterSink(ListingSink& inner, bool onlyFound, bool hideSuspect)
        : inner_(inner), only_found_(onlyFound), hide_suspect_(hideSuspect) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // Every entry of a run is as suspect as its first: shown or hidden whole.
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    // Whether the entry is shown, after beginning the listing if need be.
    bool Shows(std::optional<std::string_view> suspect);

    ListingSink& inner_;
    bool only_found_;
    bool hide_suspect_;
    bool begun_ = false;
    bool past_plausible_end_ = false;
    const ListingHead* head_ = nullptr;
};

}  // namespace vexmira::cli
