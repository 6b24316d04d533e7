#include "outputs/writer.hpp"

#include <utility>

#include "outputs/places.hpp"
#include "support/file_system.hpp"

namespace vexmira::outputs {

Writer::Writer(const std::optional<std::string>& folder, std::string existsReason)
    : folder_path_(folder), exists_reason_(std::move(existsReason)) {
    if (folder_path_) folder_ = Folder::Open(*folder_path_, *folder_path_);
}

std::string Writer::PathOf(const std::string& input, const std::string& suffix) const {
    return folder_path_ ? OutputPathFor(*folder_path_, input, suffix) : input + suffix;
}

std::string Writer::StemOf(const std::string& input) const {
    std::string stem;
    if (folder_path_) {
        for (const std::string& part : OutputParts(input, "")) stem = Joined(stem, part);
    } else {
        stem = support::AbsolutePath(input);
    }
    // Names that differ in case alone are one name where the system keeps no case.
    if (kNativePathStyle == PathStyle::Windows) {
        for (char& c : stem) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return stem;
}

void Writer::Take(std::uint64_t order, const std::string& input) { ledger_.Take(order, StemOf(input)); }

void Writer::Finish(std::uint64_t order, const std::string& input) noexcept {
    try {
        ledger_.Finish(order, StemOf(input));
    } catch (...) {
        // StemOf ran out of memory: Take made the same string, so this is out of reach in practice.
    }
}

Writer::Place Writer::Claimed(const std::string& input, const std::string& suffix, std::optional<std::uint64_t> order) {
    Place place;
    place.Path = PathOf(input, suffix);
    if (folder_path_) {
        std::vector<std::string> parts = OutputParts(input, suffix);
        place.Name = std::move(parts.back());
        parts.pop_back();
        place.Where = folder_.Below(parts, place.Path);
    } else {
        FolderAndName split = SplitPath(input);
        place.Where = Folder::Open(split.Folder, place.Path);
        place.Name = std::move(split.Name) + suffix;
    }
    // Before the file there is opened: a worker may still be listing it.
    ledger_.Claim(place.Where, place.Name, place.Path, input, StemOf(input), order);
    return place;
}

std::unique_ptr<PendingFile> Writer::Start(const std::string& input, const std::string& suffix, Existing existing,
                                           std::optional<std::uint64_t> order) {
    Place place = Claimed(input, suffix, order);
    return std::make_unique<PendingFile>(std::move(place.Where), std::move(place.Name), std::move(place.Path), existing,
                                         exists_reason_);
}

Folder Writer::StartFolder(const std::string& input, const std::string& suffix, std::optional<std::uint64_t> order) {
    const Place place = Claimed(input, suffix, order);
    return place.Where.Below({place.Name}, place.Path);
}

void Writer::Commit(PendingFile& file, const std::string& input) { ledger_.Commit(file, input); }

}  // namespace vexmira::outputs
