#pragma once
// How listings are shown as they are found: a table for people, one JSON line
// per listing for programs. Neither keeps more than a screenful of rows, so
// memory stays flat however many entries a listing has.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/examine.hpp"
#include "cli/output.hpp"

namespace vexmira::cli {

// Where the archive ends for the report: just past the last entry whose
// stored data is complete (an entry whose data runs past the end of the file
// is listed, but does not count as complete); whether the walk was cut short;
// and how many bytes of the file follow that end.
struct ArchiveEnd {
    std::int64_t End = 0;
    bool Truncated = false;
    std::int64_t Trailing = 0;
};
ArchiveEnd ReportedArchiveEnd(const archive::WalkSummary& walk);

// What standard error says about a listing that failed, in the tool's words
// ("vexmira: FILE: message"), FILE and the message shown as on a terminal.
std::string ErrorLineText(const ListingHead& head, const Text& error);

// Says on standard error that a listing failed, or (unless `quiet`) that it
// found no archive.
void ReportTrouble(LineOutput& out, const ListingHead& head, const ListingEnd& end, bool quiet);

// Sums of crafted sizes can leave 64 bits; totals stop at the limits instead.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) noexcept;
std::int64_t SaturatingTimes(std::int64_t value, std::uint64_t count) noexcept;

// Where an entry's stored bytes start: after its header and its name.
std::int64_t EntryDataOffset(const archive::TCompressedFileInfo& info, std::string_view name) noexcept;

// The decimal digits of `value`, appended.
void AppendNumber(std::string& out, std::int64_t value);

// File, offset text, the table with a totals row, and the footer on `out`;
// one line on standard error, "vexmira: FILE: message", when nothing was
// found or the listing failed, after what `out` holds, so that a terminal
// shows them in order. Column widths are taken from the first
// screenful of rows (all of them when there are fewer), the name column at
// most kWidestNameColumn wide; a cell that is wider pushes the rest of its row
// to the right, and names stay whole.
class PlainReport final : public ListingSink {
public:
    static constexpr std::size_t kScreenful = 50;
    // A longer name in the first screenful does not widen the column for
    // every row after it (a crafted name may be 32,767 characters long).
    static constexpr std::size_t kWidestNameColumn = 40;

    // `first`: no blank line before the first listing. `quiet`: "no archive
    // found" is not said.
    explicit PlainReport(LineOutput& out, bool first = true, bool quiet = false)
        : out_(out), first_(first), quiet_(quiet) {}
    void Begin(const ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // The entry's row, then a line saying where the rest of the run lies.
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    static constexpr std::size_t kColumns = 7;
    struct Row {
        std::array<std::string, kColumns> Cells;
        std::string Marker;
        std::string After;  // a whole line after the row, outside the columns
    };

    void AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more);

    // `suspect`: a marker after the last column.
    void AppendRow(const std::array<std::string_view, 7>& cells, std::string_view marker = {});
    void Print(const Row& row);
    void FixWidths(const Row* extra);

    void ShowListed();

    LineOutput& out_;
    bool first_;
    bool quiet_;
    std::string listed_;        // the "Listed:" line, shown once something was read
    std::vector<Row> pending_;  // rows held until the widths are fixed
    bool fixed_ = false;
    std::array<std::size_t, kColumns> widths_{};
    std::uint64_t count_ = 0;
    std::uint64_t locked_ = 0;
    archive::TCompressedFileInfo total_;
    std::string name_;  // reused, so a row costs no allocation once warm
};

// The version of the JSON contract, "MAJOR.MINOR": a new key raises MINOR, a
// changed or removed key raises MAJOR. share/vexmira/vexmira.schema.json
// describes it.
inline constexpr std::string_view kSchemaVersion = "2.5";

// One JSON object per listing on one line, written as the listing goes:
// what is only known at the end (error, archive_end, truncated,
// trailing_bytes) follows the entries.
class JsonReport final : public ListingSink {
public:
    explicit JsonReport(LineOutput& out) : out_(out) {}
    void Begin(const ListingHead& head) override;
    // The rest of a line another report began.
    void Resume(const ListingHead&, std::uint64_t entries) override { first_entry_ = entries == 0; }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // The entry's object with "also_at".
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override;
    void End(const ListingHead& head, const ListingEnd& end) override;

private:
    void AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more);

    LineOutput& out_;
    bool first_entry_ = true;
};

}  // namespace vexmira::cli
