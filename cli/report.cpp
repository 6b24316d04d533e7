#include "cli/report.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include "archive/entry_text.hpp"
#include "locator/locator.hpp"
#include "support/exception.hpp"

namespace vexmira::cli {

namespace {

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

std::string Number(std::int64_t value) {
    std::string text;
    AppendNumber(text, value);
    return text;
}

// Columns count characters, not bytes.
std::size_t Width(std::string_view utf8) noexcept {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) != 0x80; }));
}

Encoding TextEncoding(const Text& text, const ListingHead& head) {
    return text.FromArchive ? Encoding::Latin1 : head.PathEncoding;
}

using locator::kExceptPrefix;

constexpr std::array<bool, 7> kRightAligned = {false, true, true, false, true, false, true};

}  // namespace

ArchiveEnd ReportedArchiveEnd(const archive::WalkSummary& walk) {
    return {.End = walk.ArchiveEnd, .Truncated = walk.Truncated(), .Trailing = walk.TrailingBytes()};
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

void PlainReport::ToErr(const std::string& line) {
    out_.Flush();
    WriteErrorLine(line);
}

void PlainReport::Begin(const ListingHead& head) {
    std::string& out = out_.Buffer();
    if (!first_) out += '\n';
    first_ = false;
    out += "File: ";
    AppendTerminalText(out, head.File, head.PathEncoding);
    out += '\n';
    if (head.Located && !head.OffsetText.empty()) out += "Offset: " + head.OffsetText + '\n';
    for (const Text& message : head.Messages) ToErr(TerminalText(message.Bytes, TextEncoding(message, head)));
    if (head.Listed) {
        out += "Listed: ";
        AppendTerminalText(out, *head.Listed, head.PathEncoding);
        out += '\n';
    }
    out_.Commit();
    pending_.clear();
    fixed_ = false;
    count_ = 0;
    locked_ = 0;
    total_ = {};
}

void PlainReport::Print(const Row& row) {
    std::string& out = out_.Buffer();
    const std::size_t start = out.size();
    for (std::size_t c = 0; c < kColumns; ++c) {
        const std::size_t width = Width(row[c]);
        const std::size_t pad = widths_[c] > width ? widths_[c] - width : 0;
        if (c > 0) out += "  ";
        if (kRightAligned[c]) out.append(pad, ' ');
        out += row[c];
        if (!kRightAligned[c]) out.append(pad, ' ');
    }
    while (out.size() > start && out.back() == ' ') out.pop_back();
    out += '\n';
    out_.Commit();
}

void PlainReport::FixWidths(const Row* extra) {
    static const Row kHeader = {"Name", "Full size", "Stored size", "% compressed", "Size", "Method", "Header offset"};
    const auto widen = [this](const Row& row) {
        for (std::size_t c = 0; c < kColumns; ++c) widths_[c] = std::max(widths_[c], Width(row[c]));
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

void PlainReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info) {
    Row& row = fixed_ ? row_ : pending_.emplace_back();
    row[0].clear();
    AppendTerminalText(row[0], name, Encoding::Latin1);
    row[1] = Number(info.FullSize);
    row[2] = Number(info.CompressedSize);
    row[3] = archive::PercentageText(info);
    row[4] = archive::SizeText(info.FullSize);
    row[5] = archive::MethodName(info.Method);
    row[6] = Number(info.HeaderOffset);
    ++count_;
    if (info.Locked) ++locked_;
    total_.FullSize = SaturatingAdd(total_.FullSize, info.FullSize);
    total_.CompressedSize = SaturatingAdd(total_.CompressedSize, info.CompressedSize);
    if (fixed_) {
        Print(row);
    } else if (pending_.size() == kScreenful) {
        FixWidths(nullptr);
    }
}

void PlainReport::End(const ListingHead& head, const ListingEnd& end) {
    if (end.Walk) {
        const Row totals = {Number(static_cast<std::int64_t>(count_)) + (count_ == 1 ? " entry, " : " entries, ") +
                                Number(static_cast<std::int64_t>(locked_)) + " locked",
                            Number(total_.FullSize), Number(total_.CompressedSize), archive::PercentageText(total_),
                            "", "", ""};
        if (!fixed_) FixWidths(&totals);
        Print(totals);
        const ArchiveEnd report = ReportedArchiveEnd(*end.Walk);
        std::string& out = out_.Buffer();
        out += "Archive end: " + Number(report.End) + (report.Truncated ? ", cut short, " : ", complete, ") +
               Number(report.Trailing) + (report.Trailing == 1 ? " trailing byte\n" : " trailing bytes\n");
        out_.Commit();
    } else if (!fixed_ && !pending_.empty()) {
        FixWidths(nullptr);  // what was listed before the failure stays shown
    }
    pending_.clear();
    // Shown once: the locator's "Except: " message may already say it all.
    const bool shown = end.Error && std::any_of(head.Messages.begin(), head.Messages.end(), [&](const Text& message) {
                           return message.Bytes.size() == kExceptPrefix.size() + end.Error->Bytes.size() &&
                                  message.Bytes.starts_with(kExceptPrefix) && message.Bytes.ends_with(end.Error->Bytes);
                       });
    if (end.Error && !shown) ToErr(TerminalText(support::ErrorReportText(end.Error->Bytes), TextEncoding(*end.Error, head)));
}

// ---------------------------------------------------------------------------
// JSON

void JsonReport::Begin(const ListingHead& head) {
    std::string& out = out_.Buffer();
    out += "{\"file\":";
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
    if (head.Located) {
        AppendNumber(out, head.Offset);
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

void JsonReport::Entry(std::string_view name, const archive::TCompressedFileInfo& info) {
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
    out += ",\"long2\":";
    AppendNumber(out, info.Long2);
    out += ",\"word6\":";
    AppendNumber(out, info.Word6);
    out += ",\"long17\":";
    AppendNumber(out, info.Long17);
    out += ",\"percentage\":\"";
    out += archive::PercentageText(info);
    out += "\",\"size\":\"";
    out += archive::SizeText(info.FullSize);
    out += "\"}";
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
    } else {
        out += ",\"archive_end\":null,\"truncated\":null,\"trailing_bytes\":null";
    }
    out += "}\n";
    out_.Commit();
}

}  // namespace vexmira::cli
