#include "listing/extraction.hpp"

#include "listing/entry_data.hpp"
#include "locator/scan.hpp"

namespace vexmira::listing {

std::string ExtractionFolderName(std::int64_t offset) { return locator::OffsetHex(offset); }

std::string RawSuffix(std::uint8_t method) {
    std::string suffix = ".";
    if (method < archive::CompressIDTable.size()) {
        for (const char c : archive::CompressIDTable[method]) suffix += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else {
        suffix += 'm';
        suffix += std::to_string(method);
    }
    suffix += ".raw";
    return suffix;
}

void ExtractionPlanner::BeginListing() { names_ = UniqueNames{kManifestName}; }

const std::pair<const std::int64_t, ExtractionPlanner::Written>* ExtractionPlanner::Overlapping(std::int64_t start,
                                                                                                std::int64_t end) const {
    // The last range starting before `end` is the only one that can reach into it.
    auto found = written_.lower_bound(end);
    if (found == written_.begin()) return nullptr;
    --found;
    return found->second.End > start ? &*found : nullptr;
}

EntryExtraction ExtractionPlanner::PlanListed(const ListingHead& head, std::string_view name,
                                              const archive::TCompressedFileInfo& info,
                                              std::optional<std::string_view> suspect) {
    archive::TCompressedFileInfo inStream = info;
    inStream.HeaderOffset -= head.ListedOrigin;
    return Plan(name, inStream, suspect, head.ListedBytes->Size(), head.ListedOrigin);
}

EntryExtraction ExtractionPlanner::Plan(std::string_view name, const archive::TCompressedFileInfo& info,
                                        std::optional<std::string_view> suspect, std::int64_t streamSize,
                                        std::int64_t origin) {
    EntryExtraction plan;
    if (suspect && !include_suspect_) {
        plan.NotWritten = "Suspect (" + std::string(*suspect) + "): written only with --include-suspect";
        return plan;
    }
    const StoredRange range = StoredRangeOf(info, name.size(), streamSize);
    if (range.Missing) {
        plan.NotWritten = std::string(*range.Missing);
        return plan;
    }
    // Within the stream, so adding its origin in FILE cannot leave 64 bits.
    const std::int64_t start = range.Start + origin;
    const std::int64_t end = start + range.Size;
    if (range.Size > 0) {
        if (const auto* other = Overlapping(start, end)) {
            plan.NotWritten = "Its stored bytes overlap those of the entry at header " +
                              std::to_string(other->second.HeaderOffset) + ", written before";
            return plan;
        }
        written_[start] = Written{end, info.HeaderOffset + origin};
    }
    plan.Start = range.Start;
    plan.Size = range.Size;
    if (info.Locked) {
        plan.WhyRaw = "Locked: its data may be enciphered whatever its method";
    } else if (info.Method != 0) {
        plan.WhyRaw = "Method " + std::string(info.Method < archive::CompressIDTable.size()
                                                  ? archive::CompressIDTable[info.Method]
                                                  : "number " + std::to_string(info.Method)) +
                      " is not decoded";
    } else if (info.CompressedSize != info.FullSize) {
        plan.WhyRaw = "Its stored size differs from its full size";
    }
    plan.Raw = plan.WhyRaw.has_value();
    plan.Name = names_.Take(name, plan.Raw ? RawSuffix(info.Method) : std::string());
    return plan;
}

}  // namespace vexmira::listing
