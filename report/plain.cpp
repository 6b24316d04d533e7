#include "report/plain.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include "archive/entry_text.hpp"
#include "listing/fields.hpp"
#include "locator/locator.hpp"
#include "report/text.hpp"
#include "report/trouble.hpp"
#include "report/views.hpp"
#include "support/exception.hpp"

namespace vexmira::report {

using listing::ListingEnd;
using listing::ListingHead;
using listing::SaturatingAdd;
using listing::SaturatingTimes;
using listing::ShiftedCopies;
using listing::WalkStop;

namespace {

// The digits of `value`, written into `buffer` (spelt out: emscripten's
// libc++ has no string_view constructor from two pointers).
template <std::size_t Size>
std::string_view DigitsIn(char (&buffer)[Size], std::int64_t value) {
    const char* end = std::to_chars(buffer, buffer + Size, value).ptr;
    return {buffer, static_cast<std::size_t>(end - buffer)};
}

// Columns count characters, not bytes.
std::size_t Width(std::string_view utf8) noexcept {
    std::size_t continuations = 0;
    for (const char c : utf8) continuations += (static_cast<std::uint8_t>(c) & 0xC0) == 0x80 ? 1 : 0;
    return utf8.size() - continuations;
}

constexpr std::array<bool, 7> kRightAligned = {false, true, true, false, true, false, true};

}  // namespace

// ---------------------------------------------------------------------------
// Plain

void PlainReport::Begin(const ListingHead& head) {
    std::string& out = out_.Buffer();
    if (!first_) out += '\n';
    first_ = false;
    out += "File: ";
    AppendTerminalText(out, head.File, head.PathEncoding);
    out += '\n';
    if (!head.OffsetText.empty() && (head.Located || head.Offset >= 0)) {
        out += "Offset: " + head.OffsetText;
        if (head.PassedOver) out += " (passed over by the locator: " + TerminalText(*head.PassedOver, Encoding::Latin1) + ")";
        out += '\n';
    }
    if (head.InputSha256) out += "SHA-256: " + *head.InputSha256 + '\n';
    listed_.clear();
    if (head.Listed) {
        listed_ = "Listed: ";
        AppendTerminalText(listed_, *head.Listed, head.PathEncoding);
        listed_ += '\n';
    }
    out_.Commit();
    pending_.clear();
    fixed_ = false;
    count_ = 0;
    locked_ = 0;
    total_ = {};
}

void PlainReport::ShowListed() {
    if (listed_.empty()) return;
    out_.Buffer() += listed_;
    out_.Commit();
    listed_.clear();
}

void PlainReport::AppendRow(const std::array<std::string_view, kColumns>& cells, std::string_view marker) {
    std::array<std::size_t, kColumns> pads{};
    std::size_t length = 1 + (marker.empty() ? 0 : 2 + marker.size());  // the line break, the marker
    for (std::size_t c = 0; c < kColumns; ++c) {
        const std::size_t width = Width(cells[c]);
        pads[c] = widths_[c] > width ? widths_[c] - width : 0;
        length += (c > 0 ? 2 : 0) + pads[c] + cells[c].size();
    }
    // Laid out in a buffer on the stack and appended at once: this runs for
    // every entry, and appends cell by cell cost more than the rest of a row.
    char stack[1024];
    std::string heap;
    char* const line = length <= sizeof stack ? stack : (heap.resize(length), heap.data());
    char* p = line;
    for (std::size_t c = 0; c < kColumns; ++c) {
        if (c > 0) p = std::fill_n(p, 2, ' ');
        if (kRightAligned[c]) p = std::fill_n(p, pads[c], ' ');
        p = std::copy(cells[c].begin(), cells[c].end(), p);
        if (!kRightAligned[c]) p = std::fill_n(p, pads[c], ' ');
    }
    if (!marker.empty()) {
        p = std::fill_n(p, 2, ' ');
        p = std::copy(marker.begin(), marker.end(), p);
    }
    while (p > line && p[-1] == ' ') --p;
    *p++ = '\n';
    out_.Buffer().append(line, static_cast<std::size_t>(p - line));
    out_.Commit();
}

void PlainReport::Print(const Row& row) {
    const auto& c = row.Cells;
    AppendRow({c[0], c[1], c[2], c[3], c[4], c[5], c[6]}, row.Marker);
    if (!row.After.empty()) {
        out_.Buffer() += row.After;
        out_.Commit();
    }
}

void PlainReport::FixWidths(const Row* extra) {
    static const Row kHeader = {{"Name", "Full size", "Stored size", "% compressed", "Size", "Method", "Header offset"}, {}, {}};
    const auto widen = [this](const Row& row) {
        for (std::size_t c = 0; c < kColumns; ++c) widths_[c] = std::max(widths_[c], Width(row.Cells[c]));
        widths_[0] = std::min(widths_[0], kWidestNameColumn);
    };
    widths_ = {};
    widen(kHeader);
    for (const Row& row : pending_) widen(row);
    if (extra != nullptr) widen(*extra);
    fixed_ = true;
    Print(kHeader);
    for (const Row& row : pending_) Print(row);
    pending_.clear();
}

std::string SuspectMarker(std::optional<std::string_view> suspect) {
    return suspect ? "(suspect: " + std::string(*suspect) + ")" : std::string();
}

namespace {

// With --hash, after the row: the digest's first kShortDigest digits and the entropy.
std::string RowMarker(std::optional<std::string_view> suspect, const listing::StoredData* data) {
    std::string marker;
    if (data != nullptr) {
        // Appended, not added: g++ 12 at -O3 takes "(" + string for an overlapping copy.
        if (data->Missing) {
            marker += '(';
            marker += *data->Missing;
            marker += ')';
        } else {
            marker += "sha256 ";
            marker += std::string_view(data->Sha256).substr(0, kShortDigest);
            marker += " entropy ";
            marker += listing::HundredthsText(data->EntropyHundredths);
        }
    }
    if (suspect) {
        if (!marker.empty()) marker += "  ";
        marker += SuspectMarker(suspect);
    }
    return marker;
}

}  // namespace

namespace {

// The line after an entry or a listing that stands for a run of them, the
// first of which lies at `first`: "entry"/"entries" or "candidate"/"candidates".
std::string RunLine(std::int64_t first, const ShiftedCopies& more, std::string_view one, std::string_view many) {
    return "The same for " + NumberText(static_cast<std::int64_t>(more.Count)) + " more " +
           std::string(more.Count == 1 ? one : many) + ", " + RunSpan(first, more) +
           ", each with its offsets moved on as much\n";
}

std::string StopLine(const WalkStop& stop) {
    return "Stops before entry header " + NumberText(stop.HeaderOffset) +
           (stop.Reason == WalkStop::Why::Signature ? ": it holds the archive signature at "
                                                    : ": it overlaps the entry listed at header ") +
           NumberText(stop.At) + "\n";
}

std::string EntryRunLine(const archive::TCompressedFileInfo& info, const ShiftedCopies& more) {
    return RunLine(info.HeaderOffset, more, "entry", "entries");
}

}  // namespace

void PlainReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                        std::optional<std::string_view> suspect) {
    AddEntry(name, info, suspect, {});
}

void PlainReport::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                                std::optional<std::string_view> suspect, const listing::StoredData& data) {
    AddEntry(name, info, suspect, {}, &data);
}

void PlainReport::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    AddEntry(name, info, suspect, more);
}

void PlainReport::AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const ShiftedCopies& more,
                           const listing::StoredData* data) {
    if (count_ == 0) ShowListed();
    const std::uint64_t entries = more.Count + 1;
    count_ += entries;
    if (info.Locked) locked_ += entries;
    total_.FullSize = SaturatingAdd(total_.FullSize, SaturatingTimes(info.FullSize, entries));
    total_.CompressedSize = SaturatingAdd(total_.CompressedSize, SaturatingTimes(info.CompressedSize, entries));
    if (!fixed_) {
        Row& row = pending_.emplace_back();
        auto& cells = row.Cells;
        cells[0] = CutName(TerminalText(name, Encoding::Latin1));
        cells[1] = NumberText(info.FullSize);
        cells[2] = NumberText(info.CompressedSize);
        cells[3] = archive::PercentageText(info);
        cells[4] = archive::SizeText(info.FullSize);
        cells[5] = std::string(MethodCell(info.Method));
        cells[6] = NumberText(info.HeaderOffset);
        row.Marker = RowMarker(suspect, data);
        if (more.Count > 0) row.After = EntryRunLine(info, more);
        if (pending_.size() == kScreenful) FixWidths(nullptr);
        return;
    }
    // Once the widths are fixed, rows go straight into the output: this is
    // the loop that runs millions of times.
    name_.clear();
    AppendTerminalText(name_, name, Encoding::Latin1);
    if (name_.size() > kWidestNameColumn) name_ = CutName(name_, kWidestNameColumn);  // bytes bound characters
    char full[24];
    char stored[24];
    char offset[24];
    const std::string percentage = archive::PercentageText(info);
    const std::string size = archive::SizeText(info.FullSize);
    AppendRow({name_, DigitsIn(full, info.FullSize), DigitsIn(stored, info.CompressedSize), percentage, size,
               MethodCell(info.Method), DigitsIn(offset, info.HeaderOffset)},
              suspect || data != nullptr ? std::string_view(RowMarker(suspect, data)) : std::string_view());
    if (more.Count > 0) {
        out_.Buffer() += EntryRunLine(info, more);
        out_.Commit();
    }
}

void PlainReport::End(const ListingHead& head, const ListingEnd& end) {
    if (!end.Error) ShowListed();
    if (end.Walk) {
        const Row totals = {{NumberText(static_cast<std::int64_t>(count_)) + (count_ == 1 ? " entry, " : " entries, ") +
                                 NumberText(static_cast<std::int64_t>(locked_)) + " locked",
                             NumberText(total_.FullSize), NumberText(total_.CompressedSize), archive::PercentageText(total_), "",
                             "", ""},
                            {},
                            {}};
        if (!fixed_) FixWidths(&totals);
        Print(totals);
        const listing::ArchiveEnd report = listing::ReportedArchiveEnd(*end.Walk);
        std::string& out = out_.Buffer();
        out += "Archive end: " + NumberText(report.End) + (report.Truncated ? ", cut short, " : ", complete, ") +
               NumberText(report.Trailing) + (report.Trailing == 1 ? " trailing byte\n" : " trailing bytes\n");
        // Said only when something after the archive looks like entries.
        if (end.TrailingEntries > 0 && end.TrailingFolded) {
            out += "Plausible end: " + NumberText(end.PlausibleEnd) + "\n" +
                   FoldedEntriesLine(end.TrailingEntries, "--show-suspect lists them") + "\n";
        } else if (end.TrailingEntries > 0) {
            out += "Plausible end: " + NumberText(end.PlausibleEnd) + ", " + NumberText(static_cast<std::int64_t>(end.TrailingEntries)) +
                   (end.TrailingEntries == 1 ? " entry after it looks like trailing data\n"
                                             : " entries after it look like trailing data\n");
        }
        out_.Commit();
    } else if (!fixed_ && !pending_.empty()) {
        FixWidths(nullptr);  // what was listed before the failure stays shown
    }
    pending_.clear();
    if (end.Joins) out_.Buffer() += "Joins an earlier candidate's walk at entry header " + NumberText(*end.Joins) + "\n";
    if (end.Stopped) out_.Buffer() += StopLine(*end.Stopped);
    if (end.CarvedIn) {
        std::string& out = out_.Buffer();
        out += "Carved in: ";
        AppendTerminalText(out, *end.CarvedIn, head.PathEncoding);
        out += " (an earlier candidate's carve holds this one)\n";
    }
    if (end.AlsoAt) out_.Buffer() += RunLine(head.Offset, *end.AlsoAt, "candidate", "candidates");
    out_.Commit();
    if (end.Carved) {
        std::string& out = out_.Buffer();
        out += "Carved: ";
        AppendTerminalText(out, end.Carved->Path, head.PathEncoding);
        out += ", " + NumberText(end.Carved->Size) + (end.Carved->Size == 1 ? " byte, sha256 " : " bytes, sha256 ") +
               end.Carved->Sha256 + '\n';
        out_.Commit();
    }
    ReportTrouble(out_, head, end, quiet_);
    if (const std::optional<std::string> note = PassedOverNote(head); note && !quiet_) {
        out_.ErrorLine(ErrorLineText(head, listing::Text{*note}));
    }
}

}  // namespace vexmira::report
