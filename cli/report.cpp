#include "cli/report.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include "archive/entry_text.hpp"
#include "locator/locator.hpp"
#include "support/exception.hpp"

namespace vexmira::cli {

namespace {

// The digits of `value`, written into `buffer` (spelt out: emscripten's
// libc++ has no string_view constructor from two pointers).
template <std::size_t Size>
std::string_view DigitsIn(char (&buffer)[Size], std::int64_t value) {
    const char* end = std::to_chars(buffer, buffer + Size, value).ptr;
    return {buffer, static_cast<std::size_t>(end - buffer)};
}

std::string Number(std::int64_t value) {
    std::string text;
    AppendNumber(text, value);
    return text;
}

// Columns count characters, not bytes.
std::size_t Width(std::string_view utf8) noexcept {
    std::size_t continuations = 0;
    for (const char c : utf8) continuations += (static_cast<std::uint8_t>(c) & 0xC0) == 0x80 ? 1 : 0;
    return utf8.size() - continuations;
}

// "every S bytes from A to B": where the rest of a run that starts at `first` lies.
std::string RunSpan(std::int64_t first, const ShiftedCopies& more) {
    return "every " + Number(more.Every) + " bytes from " + Number(SaturatingAdd(first, more.Every)) + " to " +
           Number(SaturatingAdd(first, SaturatingTimes(more.Every, more.Count)));
}

Encoding TextEncoding(const Text& text, const ListingHead& head) {
    return text.FromArchive ? Encoding::Latin1 : head.PathEncoding;
}

constexpr std::array<bool, 7> kRightAligned = {false, true, true, false, true, false, true};

}  // namespace

ArchiveEnd ReportedArchiveEnd(const archive::WalkSummary& walk) {
    return {.End = walk.ArchiveEnd, .Truncated = walk.Truncated(), .Trailing = walk.TrailingBytes()};
}

std::string ErrorLineText(const ListingHead& head, const Text& error) {
    std::string line = "vexmira: ";
    AppendTerminalText(line, head.File, head.PathEncoding);
    line += ": ";
    if (error.NotAnArchive) line += "not an archive: ";
    AppendTerminalText(line, error.Bytes, TextEncoding(error, head));
    return line;
}

void ReportTrouble(LineOutput& out, const ListingHead& head, const ListingEnd& end, bool quiet) {
    if (end.Error) {
        std::string line = ErrorLineText(head, *end.Error);
        if (end.AlsoAt) {
            // A folded run of failed candidates is said once.
            line += " (the same for " + Number(static_cast<std::int64_t>(end.AlsoAt->Count)) + " more, " +
                    RunSpan(head.Offset, *end.AlsoAt) + ")";
        }
        out.ErrorLine(line);
    } else if (end.Result == Outcome::NotFound && !quiet) {
        out.ErrorLine(ErrorLineText(head, Text{"no archive found"}));
    }
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

std::int64_t EntryDataOffset(const archive::TCompressedFileInfo& info, std::string_view name) noexcept {
    return SaturatingAdd(info.HeaderOffset, info.HeaderSize + static_cast<std::int64_t>(name.size()));
}

std::int64_t SaturatingTimes(std::int64_t value, std::uint64_t count) noexcept {
    std::int64_t product = 0;
    if (count <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
        !__builtin_mul_overflow(value, static_cast<std::int64_t>(count), &product)) {
        return product;
    }
    return value < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
}

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (b > 0 && a > kMax - b) return kMax;
    if (b < 0 && a < kMin - b) return kMin;
    return a + b;
}

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

// The line after an entry or a listing that stands for a run of them, the
// first of which lies at `first`: "entry"/"entries" or "candidate"/"candidates".
std::string RunLine(std::int64_t first, const ShiftedCopies& more, std::string_view one, std::string_view many) {
    return "The same for " + Number(static_cast<std::int64_t>(more.Count)) + " more " +
           std::string(more.Count == 1 ? one : many) + ", " + RunSpan(first, more) +
           ", each with its offsets moved on as much\n";
}

std::string StopLine(const WalkStop& stop) {
    return "Stops before entry header " + Number(stop.HeaderOffset) +
           (stop.Reason == WalkStop::Why::Signature ? ": it holds the archive signature at "
                                                    : ": it overlaps the entry listed at header ") +
           Number(stop.At) + "\n";
}

std::string EntryRunLine(const archive::TCompressedFileInfo& info, const ShiftedCopies& more) {
    return RunLine(info.HeaderOffset, more, "entry", "entries");
}

}  // namespace

void PlainReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                        std::optional<std::string_view> suspect) {
    AddEntry(name, info, suspect, {});
}

void PlainReport::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    AddEntry(name, info, suspect, more);
}

void PlainReport::AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    if (count_ == 0) ShowListed();
    const std::uint64_t entries = more.Count + 1;
    count_ += entries;
    if (info.Locked) locked_ += entries;
    total_.FullSize = SaturatingAdd(total_.FullSize, SaturatingTimes(info.FullSize, entries));
    total_.CompressedSize = SaturatingAdd(total_.CompressedSize, SaturatingTimes(info.CompressedSize, entries));
    if (!fixed_) {
        Row& row = pending_.emplace_back();
        auto& cells = row.Cells;
        AppendTerminalText(cells[0], name, Encoding::Latin1);
        cells[1] = Number(info.FullSize);
        cells[2] = Number(info.CompressedSize);
        cells[3] = archive::PercentageText(info);
        cells[4] = archive::SizeText(info.FullSize);
        cells[5] = archive::MethodName(info.Method);
        cells[6] = Number(info.HeaderOffset);
        row.Marker = SuspectMarker(suspect);
        if (more.Count > 0) row.After = EntryRunLine(info, more);
        if (pending_.size() == kScreenful) FixWidths(nullptr);
        return;
    }
    // Once the widths are fixed, rows go straight into the output: this is
    // the loop that runs millions of times.
    name_.clear();
    AppendTerminalText(name_, name, Encoding::Latin1);
    char full[24];
    char stored[24];
    char offset[24];
    const std::string percentage = archive::PercentageText(info);
    const std::string size = archive::SizeText(info.FullSize);
    AppendRow({name_, DigitsIn(full, info.FullSize), DigitsIn(stored, info.CompressedSize), percentage, size,
               archive::MethodName(info.Method), DigitsIn(offset, info.HeaderOffset)},
              suspect ? std::string_view(SuspectMarker(suspect)) : std::string_view());
    if (more.Count > 0) {
        out_.Buffer() += EntryRunLine(info, more);
        out_.Commit();
    }
}

void PlainReport::End(const ListingHead& head, const ListingEnd& end) {
    if (!end.Error) ShowListed();
    if (end.Walk) {
        const Row totals = {{Number(static_cast<std::int64_t>(count_)) + (count_ == 1 ? " entry, " : " entries, ") +
                                 Number(static_cast<std::int64_t>(locked_)) + " locked",
                             Number(total_.FullSize), Number(total_.CompressedSize), archive::PercentageText(total_), "",
                             "", ""},
                            {},
                            {}};
        if (!fixed_) FixWidths(&totals);
        Print(totals);
        const ArchiveEnd report = ReportedArchiveEnd(*end.Walk);
        std::string& out = out_.Buffer();
        out += "Archive end: " + Number(report.End) + (report.Truncated ? ", cut short, " : ", complete, ") +
               Number(report.Trailing) + (report.Trailing == 1 ? " trailing byte\n" : " trailing bytes\n");
        // Said only when something after the archive looks like entries.
        if (end.TrailingEntries > 0) {
            out += "Plausible end: " + Number(end.PlausibleEnd) + ", " + Number(static_cast<std::int64_t>(end.TrailingEntries)) +
                   (end.TrailingEntries == 1 ? " entry after it looks like trailing data\n"
                                             : " entries after it look like trailing data\n");
        }
        out_.Commit();
    } else if (!fixed_ && !pending_.empty()) {
        FixWidths(nullptr);  // what was listed before the failure stays shown
    }
    pending_.clear();
    if (end.Joins) out_.Buffer() += "Joins an earlier candidate's walk at entry header " + Number(*end.Joins) + "\n";
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
        out += ", " + Number(end.Carved->Size) + (end.Carved->Size == 1 ? " byte, sha256 " : " bytes, sha256 ") +
               end.Carved->Sha256 + '\n';
        out_.Commit();
    }
    ReportTrouble(out_, head, end, quiet_);
}

// ---------------------------------------------------------------------------
// JSON

void JsonReport::Begin(const ListingHead& head) {
    std::string& out = out_.Buffer();
    out += "{\"schema_version\":\"";
    out += kSchemaVersion;
    out += "\",\"file\":";
    AppendJsonString(out, head.File, head.PathEncoding);
    out += ",\"path_encoding\":\"";
    out += EncodingName(head.PathEncoding);
    out += "\",\"listed\":";
    if (head.Listed) {
        AppendJsonString(out, *head.Listed, head.PathEncoding);
    } else {
        out += "null";
    }
    out += ",\"offset\":";
    if (head.Offset >= 0) {
        AppendNumber(out, head.Offset);
    } else {
        out += "null";
    }
    // Whether the locator chose this offset; null where it was not asked.
    out += ",\"located\":";
    out += !head.Located ? "null" : head.Offset >= 0 && !head.PassedOver ? "true" : "false";
    out += ",\"passed_over\":";
    if (head.PassedOver) {
        AppendJsonString(out, *head.PassedOver, Encoding::Latin1);
    } else {
        out += "null";
    }
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

void JsonReport::EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    AddEntry(name, info, suspect, more);
}

namespace {

// An entry's "also_at" is written as a listing's is.
void AppendAlsoAt(std::string& out, const ShiftedCopies& more) {
    out += ",\"also_at\":{\"count\":";
    AppendNumber(out, static_cast<std::int64_t>(more.Count));
    out += ",\"every\":";
    AppendNumber(out, more.Every);
    out += '}';
}

}  // namespace

void JsonReport::AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                          std::optional<std::string_view> suspect, const ShiftedCopies& more) {
    std::string& out = out_.Buffer();
    out += first_entry_ ? "{\"name\":" : ",{\"name\":";
    first_entry_ = false;
    AppendJsonString(out, name, Encoding::Latin1);
    out += ",\"full_size\":";
    AppendNumber(out, info.FullSize);
    out += ",\"compressed_size\":";
    AppendNumber(out, info.CompressedSize);
    out += ",\"method\":";
    AppendNumber(out, info.Method);
    out += ",\"method_name\":\"";
    out += archive::MethodName(info.Method);
    out += info.Locked ? "\",\"locked\":true" : "\",\"locked\":false";
    out += ",\"header_offset\":";
    AppendNumber(out, info.HeaderOffset);
    out += ",\"header_size\":";
    AppendNumber(out, info.HeaderSize);
    out += ",\"data_offset\":";
    AppendNumber(out, EntryDataOffset(info, name));
    out += ",\"long2\":";
    AppendNumber(out, info.Long2);
    out += ",\"word6\":";
    AppendNumber(out, info.Word6);
    out += ",\"long17\":";
    AppendNumber(out, info.Long17);
    out += ",\"percentage\":\"";
    out += archive::PercentageText(info);
    out += "\",\"percent_compressed\":";
    if (const std::optional<std::int32_t> percent = archive::PercentCompressed(info)) {
        AppendNumber(out, *percent);
    } else {
        out += "null";
    }
    out += ",\"size\":\"";
    out += archive::SizeText(info.FullSize);
    if (suspect) {
        out += "\",\"suspect\":\"";
        out += *suspect;
        out += '"';
    } else {
        out += "\",\"suspect\":null";
    }
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
        const ArchiveEnd report = ReportedArchiveEnd(*end.Walk);
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

}  // namespace vexmira::cli
