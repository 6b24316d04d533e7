#include "cli/sources.hpp"

#include <algorithm>
#include <string_view>

#include "outputs/places.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::cli {

namespace {

constexpr std::string_view kSideFileSuffix = "$$$";

// This tool's outputs, by name: side files (and files still being written)
// end in "$$$", carved ones in ".OFFSET.ARC" with eight or more upper-case
// hex digits after a name.
bool IsOwnOutputName(std::string_view path) {
    if (path.ends_with(kSideFileSuffix)) return true;
    constexpr std::string_view kCarvedSuffix = ".ARC";
    if (!path.ends_with(kCarvedSuffix)) return false;
    path.remove_suffix(kCarvedSuffix.size());
    std::size_t digits = 0;
    while (digits < path.size()) {
        const char c = path[path.size() - 1 - digits];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) break;
        ++digits;
    }
    if (digits < 8 || digits == path.size() || path[path.size() - 1 - digits] != '.') return false;
    // Something must come before the dot within the name: "dir/.0000ABCD.ARC" is no carve.
    const std::size_t dot = path.size() - 1 - digits;
    return dot > 0 && path[dot - 1] != '/' && path[dot - 1] != '\\';
}

}  // namespace

struct FileSource::Folder {
    std::string Path;
    FileId Id;
    std::vector<std::string> Names;
    std::size_t Next = 0;
};

FileSource::FileSource(SourceOptions options) : options_(std::move(options)) {
    if (options_.OutputDir) {
        if (const auto status = platform::StatusOf(*options_.OutputDir, true)) output_dir_ = status->Id;
    }
}

FileSource::~FileSource() = default;

void FileSource::AddName(std::string path) { names_.push_back(std::move(path)); }

void FileSource::AddListText(std::string_view text, bool nul) {
    const char end = nul ? '\0' : '\n';
    for (std::size_t cut = text.find(end); cut != std::string_view::npos; cut = text.find(end)) {
        partial_name_.append(text.substr(0, cut));
        EndListName(nul);
        text.remove_prefix(cut + 1);
    }
    partial_name_.append(text);
}

void FileSource::EndList(bool nul) {
    if (!partial_name_.empty()) EndListName(nul);
}

void FileSource::EndListName(bool nul) {
    std::string name = std::exchange(partial_name_, {});
    if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names_.push_back(std::move(name));
}

std::optional<std::uint64_t> FileSource::KnownTotal() const {
    if (!walk_.empty() || options_.Recursive) {
        // With folders to walk, the count is known only when all are walked.
        if (walk_.empty() && next_name_ == names_.size()) return yielded_;
        return std::nullopt;
    }
    return yielded_ + (names_.size() - next_name_);
}

std::optional<SourceItem> FileSource::Visit(const std::string& path, bool named) {
    // The system would read such a name only up to the NUL: another file.
    if (path.find('\0') != std::string::npos) {
        return SourceItem{.Path = path, .Size = 0, .Error = support::OpenErrorMessage(path, "The name holds a NUL byte")};
    }
    // A name the user gave is followed wherever it points; one found in a
    // walk only with FollowLinks.
    std::string reason;
    const std::optional<platform::FileStatus> status = platform::StatusOf(path, named || options_.FollowLinks, &reason);
    if (!status) {
        // Examining it reports why it cannot be opened, in the usual words.
        if (named) return SourceItem{.Path = path, .Size = 0, .Error = std::nullopt};
        // A file of another run gone meanwhile is no loss; anything else
        // found in a walk that cannot be reached (a folder without search
        // permission, a path too long) is an error of the run.
        if (IsOwnOutputName(path)) return std::nullopt;
        return SourceItem{.Path = path, .Size = 0, .Error = support::OpenErrorMessage(path, reason)};
    }
    const FileId id = status->Id;
    if (status->Kind == platform::FileKind::Directory) {
        if (!options_.Recursive) {
            if (!named) return std::nullopt;
            return SourceItem{.Path = path,
                              .Size = 0,
                              .Error = support::OpenErrorMessage(path, "Is a directory; use -r to examine the files in it")};
        }
        if (output_dir_ && id == *output_dir_ && !named) return std::nullopt;
        if (std::any_of(walk_.begin(), walk_.end(), [&](const auto& folder) { return folder->Id == id; })) {
            return SourceItem{.Path = path,
                              .Size = 0,
                              .Error = support::OpenErrorMessage(path, "A symbolic link loop: the folder is not walked")};
        }
        if (!FirstVisit(id)) return std::nullopt;
        auto folder = std::make_unique<Folder>();
        folder->Path = path;
        folder->Id = id;
        try {
            folder->Names = platform::FolderNames(path);
        } catch (const platform::SystemError& error) {
            return SourceItem{.Path = path,
                              .Size = 0,
                              .Error = "Cannot open folder \"" + support::AbsolutePath(path) + "\". " + error.what()};
        }
        std::sort(folder->Names.begin(), folder->Names.end());  // byte order
        walk_.push_back(std::move(folder));
        return std::nullopt;
    }
    if (!named) {
        // In a walk only regular files count, and this tool's own side files do not.
        if (status->Kind != platform::FileKind::Regular) return std::nullopt;
        if (IsOwnOutputName(path)) {
            if (skipped_outputs_++ == 0) first_skipped_output_ = path;
            return std::nullopt;
        }
    }
    if (!FirstVisit(id)) return std::nullopt;
    return SourceItem{.Path = path,
                      .Size = status->Kind == platform::FileKind::Regular ? status->Size : 0,
                      .Error = std::nullopt};
}

std::optional<SourceItem> FileSource::Next() {
    for (;;) {
        std::optional<SourceItem> item;
        if (!walk_.empty()) {
            Folder& folder = *walk_.back();
            if (folder.Next == folder.Names.size()) {
                walk_.pop_back();
                continue;
            }
            item = Visit(outputs::Joined(folder.Path, folder.Names[folder.Next++]), false);
        } else if (next_name_ < names_.size()) {
            item = Visit(names_[next_name_++], true);
        } else {
            return std::nullopt;
        }
        if (item) {
            ++yielded_;
            return item;
        }
    }
}

}  // namespace vexmira::cli
