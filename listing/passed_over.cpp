#include "listing/passed_over.hpp"

#include <algorithm>

#include "archive/compress.hpp"
#include "locator/scan.hpp"
#include "support/memory_stream.hpp"

namespace vexmira::listing {

namespace {

bool ReaderAccepts(std::span<const std::uint8_t> window) {
    support::MemoryStream stream(window.data(), window.size());
    archive::ArchiveHeader header;
    std::string identifier;
    try {
        archive::TCompress().PrepareArchiveHeader(stream, header, identifier);
        return true;
    } catch (const support::Exception&) {
        return false;
    }
}

}  // namespace

std::optional<std::string> PassedOverReason(std::span<const std::uint8_t> window) {
    if (window.size() <= locator::kIdentifierAt || !std::equal(locator::kSignature.begin(), locator::kSignature.end(), window.begin())) {
        return std::nullopt;
    }
    // The reader takes only the multi-file type: a cheap test first, so a
    // run of signatures costs no failed header read each.
    if (window.size() <= archive::ArchiveHeaderField::kArchiveType || window[archive::ArchiveHeaderField::kArchiveType] != 1) {
        return std::nullopt;
    }
    if (locator::IsCandidate(window) || !ReaderAccepts(window)) return std::nullopt;
    // Too short for the locator, and yet whole: then nothing the rule names.
    return locator::RuleRejection(window);
}

}  // namespace vexmira::listing
