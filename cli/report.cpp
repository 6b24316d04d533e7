#include "cli/report.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/entry_text.hpp"
#include "support/exception.hpp"

namespace vexmira::cli {

namespace {

using Json = nlohmann::ordered_json;

// Sums of crafted sizes can leave 64 bits; totals stop at the limit instead.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (b > 0 && a > kMax - b) return kMax;
    if (b < 0 && a < kMin - b) return kMin;
    return a + b;
}

// Entry names come from the file: control bytes are shown as \xNN so a name
// can neither break the table nor drive the terminal.
std::string TerminalText(std::string_view latin1) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : latin1) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) {
            shown += "\\x";
            shown += kHexDigits[byte >> 4];
            shown += kHexDigits[byte & 0xF];
        } else {
            shown += Latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return shown;
}

// Columns count characters, not bytes.
std::size_t Width(std::string_view utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) != 0x80; }));
}

constexpr std::size_t kColumns = 7;
using Row = std::array<std::string, kColumns>;
constexpr std::array<bool, kColumns> kRightAligned = {false, true, true, false, true, false, true};

void PrintTable(const std::vector<Row>& rows, std::ostream& out) {
    std::array<std::size_t, kColumns> widths{};
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], Width(row[c]));
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            const std::string pad(widths[c] - Width(row[c]), ' ');
            if (c > 0) line += "  ";
            line += kRightAligned[c] ? pad + row[c] : row[c] + pad;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    }
}

void PrintEntries(const Listing& listing, std::ostream& out) {
    std::vector<Row> rows;
    rows.push_back({"Name", "Full size", "Stored size", "% compressed", "Size", "Method", "Header offset"});
    archive::TCompressedFileInfo total;
    std::size_t locked = 0;
    for (std::size_t i = 0; i < listing.entries.Count(); ++i) {
        const archive::TCompressedFileInfo& info = listing.entries.Info(i);
        rows.push_back({TerminalText(listing.entries.Name(i)), std::to_string(info.FullSize),
                        std::to_string(info.CompressedSize), archive::PercentageText(info),
                        archive::SizeText(info.FullSize), std::string(archive::MethodName(info.Method)),
                        std::to_string(info.HeaderOffset)});
        total.FullSize = SaturatingAdd(total.FullSize, info.FullSize);
        total.CompressedSize = SaturatingAdd(total.CompressedSize, info.CompressedSize);
        if (info.Locked) ++locked;
    }
    const std::size_t count = listing.entries.Count();
    rows.push_back({std::to_string(count) + (count == 1 ? " entry, " : " entries, ") + std::to_string(locked) + " locked",
                    std::to_string(total.FullSize), std::to_string(total.CompressedSize), archive::PercentageText(total),
                    "", "", ""});
    PrintTable(rows, out);
}

Json EntryJson(std::string_view name, const archive::TCompressedFileInfo& info) {
    Json entry;
    entry["name"] = Latin1ToUtf8(name);
    entry["full_size"] = info.FullSize;
    entry["compressed_size"] = info.CompressedSize;
    entry["method"] = info.Method;
    entry["method_name"] = archive::MethodName(info.Method);
    entry["locked"] = info.Locked;
    entry["header_offset"] = info.HeaderOffset;
    entry["long2"] = info.Long2;
    entry["word6"] = info.Word6;
    entry["long17"] = info.Long17;
    entry["percentage"] = archive::PercentageText(info);
    entry["size"] = archive::SizeText(info.FullSize);
    return entry;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

ArchiveEnd ReportedArchiveEnd(const Listing& listing) {
    if (!listing.walk) return {};
    return {.end = listing.walk->ArchiveEnd, .truncated = listing.walk->Truncated(), .trailing = listing.walk->TrailingBytes()};
}

void PrintPlain(const Listing& listing, std::ostream& out, std::ostream& err) {
    const auto toErr = [&](const std::string& text) {
        out.flush();
        err << text << '\n';
        err.flush();
    };
    out << "File: " << listing.file << '\n';
    if (listing.located && !listing.offsetText.empty()) out << "Offset: " << listing.offsetText << '\n';
    for (const std::string& message : listing.messages) toErr(message);
    if (listing.note) toErr(listing.file + ": " + *listing.note);
    if (listing.listed) out << "Listed: " << *listing.listed << '\n';
    if (listing.error) toErr(support::ErrorReportText(*listing.error));
    if (listing.listed && listing.walk) {
        PrintEntries(listing, out);
        const ArchiveEnd report = ReportedArchiveEnd(listing);
        out << "Archive end: " << report.end << ", " << (report.truncated ? "cut short" : "complete") << ", "
            << report.trailing << (report.trailing == 1 ? " trailing byte" : " trailing bytes") << '\n';
    }
}

void PrintJson(const Listing& listing, std::ostream& out) {
    Json object;
    object["file"] = listing.file;
    object["listed"] = listing.listed ? Json(*listing.listed) : Json(nullptr);
    object["offset"] = listing.located ? Json(listing.offset) : Json(nullptr);
    Json messages = Json::array();
    for (const std::string& message : listing.messages) messages.push_back(Latin1ToUtf8(message));
    object["messages"] = std::move(messages);
    object["error"] = listing.error ? Json(Latin1ToUtf8(*listing.error)) : Json(nullptr);
    Json entries = Json::array();
    for (std::size_t i = 0; i < listing.entries.Count(); ++i) {
        entries.push_back(EntryJson(listing.entries.Name(i), listing.entries.Info(i)));
    }
    object["entries"] = std::move(entries);
    if (listing.walk) {
        const ArchiveEnd report = ReportedArchiveEnd(listing);
        object["archive_end"] = report.end;
        object["truncated"] = report.truncated;
        object["trailing_bytes"] = report.trailing;
    } else {
        object["archive_end"] = nullptr;
        object["truncated"] = nullptr;
        object["trailing_bytes"] = nullptr;
    }
    // Paths are passed on as given; bytes that are not UTF-8 become U+FFFD
    // rather than making the line unreadable.
    out << object.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace vexmira::cli
