#include "report/views.hpp"

#include <array>

#include "archive/compress.hpp"
#include "archive/entry_text.hpp"
#include "report/text.hpp"

namespace vexmira::report {

namespace {

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return NumberText(static_cast<std::int64_t>(count)) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::string FoldedEntriesLine(std::uint64_t count, std::string_view howToList) {
    return Counted(count, "entry after the plausible end looks", "entries after the plausible end look") +
           " like trailing data: " + std::string(howToList);
}

std::string CutName(std::string_view shown, std::size_t width) {
    if (width == 0) return {};
    // Byte by byte to the start of character `width`: continuation bytes
    // (10xxxxxx) do not start one.
    std::size_t characters = 0;
    std::size_t keep = shown.size();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if ((static_cast<std::uint8_t>(shown[i]) & 0xC0) == 0x80) continue;
        if (characters == width - 1) keep = i;
        if (++characters > width) return std::string(shown.substr(0, keep)) + "\u2026";
    }
    return std::string(shown);
}

std::string_view MethodCell(std::uint8_t method) {
    // Made once: a row asks for one per entry.
    static const std::array<std::string, 256> kCells = [] {
        std::array<std::string, 256> cells;
        for (std::size_t byte = 0; byte < cells.size(); ++byte) {
            cells[byte] = byte < archive::CompressIDTable.size()
                              ? std::string(archive::MethodName(static_cast<std::uint8_t>(byte)))
                              : std::to_string(byte);
        }
        return cells;
    }();
    return kCells[method];
}

std::optional<std::string> PassedOverNote(const listing::ListingHead& head) {
    const std::uint64_t passed = head.PassedOverCount.value_or(0);
    const std::uint64_t replaced = head.ReplacedCandidates.value_or(0);
    if (passed == 0 && replaced == 0) return std::nullopt;
    std::string note;
    if (passed > 0) note = Counted(passed, "archive header", "archive headers") + " passed over by the locator's rule";
    if (replaced > 0) {
        if (!note.empty()) note += ", ";
        note += Counted(replaced, "earlier candidate", "earlier candidates") + " in the block of the one chosen";
    }
    return note + ": --all lists them";
}

}  // namespace vexmira::report
