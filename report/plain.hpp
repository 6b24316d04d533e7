#pragma once
// How listings are shown to people as they are found: a table that keeps no
// more than a screenful of rows, so memory stays flat however many entries a
// listing has.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "listing/examine.hpp"
#include "report/output.hpp"
#include "report/views.hpp"

namespace vexmira::report {

// File, offset text, the table with a totals row, and the footer on `out`;
// one line on standard error, "vexmira: FILE: message", when nothing was
// found or the listing failed, after what `out` holds, so that a terminal
// shows them in order. Column widths are taken from the first
// screenful of rows (all of them when there are fewer), the name column at
// most kWidestNameColumn wide, names cut to it with "…"; another cell that
// is wider pushes the rest of its row to the right.
class PlainReport final : public listing::ListingSink {
public:
    static constexpr std::size_t kScreenful = 50;
    // A longer name in the first screenful does not widen the column for
    // every row after it (a crafted name may be 32,767 characters long).
    static constexpr std::size_t kWidestNameColumn = kNameWidth;

    // `first`: no blank line before the first listing. `quiet`: "no archive
    // found" is not said.
    explicit PlainReport(LineOutput& out, bool first = true, bool quiet = false)
        : out_(out), first_(first), quiet_(quiet) {}
    void Begin(const listing::ListingHead& head) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // The row with a short digest and the entropy after it.
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override;
    // The entry's row, then a line saying where the rest of the run lies.
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

private:
    static constexpr std::size_t kColumns = 7;
    struct Row {
        std::array<std::string, kColumns> Cells;
        std::string Marker;
        std::string After;  // a whole line after the row, outside the columns
    };

    void AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more,
                  const listing::StoredData* data = nullptr);

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

}  // namespace vexmira::report
