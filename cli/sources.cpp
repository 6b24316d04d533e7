#include "cli/sources.hpp"

#include <algorithm>
#include <string_view>

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

std::string_view Separators(PathStyle style) { return style == PathStyle::Windows ? "/\\" : "/"; }

std::string Joined(const std::string& folder, const std::string& name, PathStyle style = kNativePathStyle) {
    const std::string_view separators = Separators(style);
    if (folder.empty() || separators.find(folder.back()) != std::string_view::npos) return folder + name;
    return folder + separators.back() + name;
}

// The parts of `path` between its separators, empty ones left out.
std::vector<std::string> Parts(std::string_view path, PathStyle style) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(Separators(style), start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
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
    const std::optional<platform::FileStatus> status = platform::StatusOf(path, named || options_.FollowLinks);
    if (!status) {
        // Examining it reports why it cannot be opened, in the usual words.
        if (named) return SourceItem{.Path = path, .Size = 0, .Error = std::nullopt};
        return std::nullopt;
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
        if (IsOwnOutputName(path)) return std::nullopt;
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
            item = Visit(Joined(folder.Path, folder.Names[folder.Next++]), false);
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

namespace {

// Every '%' becomes "%25" first, so that no escape below can meet a name
// that was written that way already.
std::string Escaped(const std::string& part, PathStyle style) {
    std::string escaped;
    for (const char c : part) {
        if (c == '%') {
            escaped += "%25";
        } else if (c == ':' && style == PathStyle::Windows) {
            escaped += "%3A";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// The parts of the path below the output folder, the file's name last.
std::vector<std::string> OutputParts(const std::string& input, const std::string& suffix, PathStyle style) {
    constexpr std::string_view kUp = "%2E%2E";
    std::vector<std::string> parts;
    // Standard input has no name of its own: its outputs are named "stdin...".
    const std::string& named = input == support::kStandardInputName ? std::string(kStandardInputOutputName) : input;
    for (std::string& part : Parts(named, style)) {
        if (part == "..") {
            if (!parts.empty() && parts.back() != kUp) {
                parts.pop_back();
            } else {
                parts.emplace_back(kUp);
            }
        } else if (part != ".") {
            parts.push_back(Escaped(part, style));
        }
    }
    if (parts.empty()) parts.emplace_back();
    parts.back() += suffix;
    return parts;
}

}  // namespace

std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix,
                          PathStyle style) {
    std::string path = outputDir;
    for (const std::string& part : OutputParts(input, suffix, style)) path = Joined(path, part, style);
    return path;
}

OutputPlace PlaceOutput(const std::optional<std::string>& outputDir, const std::string& input, const std::string& suffix) {
    OutputPlace place;
    std::vector<std::string> folders;
    std::string base;
    if (outputDir) {
        folders = OutputParts(input, suffix, kNativePathStyle);
        place.Name = folders.back();
        folders.pop_back();
        place.Path = OutputPathFor(*outputDir, input, suffix);
        base = *outputDir;
    } else {
        // Next to the input, in the folder its path names.
        place.Path = input + suffix;
        std::size_t slash = input.find_last_of(Separators(kNativePathStyle));
        if (slash == std::string::npos && kNativePathStyle == PathStyle::Windows && input.size() >= 2 && input[1] == ':') {
            slash = 1;  // "C:x.exe": the drive's current folder
        }
        if (slash == std::string::npos) {
            base = ".";
            place.Name = input + suffix;
        } else {
            base = input.substr(0, slash + 1);
            place.Name = input.substr(slash + 1) + suffix;
        }
    }
    place.Folder = support::NativeFolder::OpenChain(base, folders, place.Path);
    return place;
}

void MakeOutputFolder(const std::string& outputDir) {
    // The longest leading part that exists; the rest is made below it, step
    // by step, without following a link.
    std::string base = outputDir;
    std::vector<std::string> missing;
    while (!base.empty() && !platform::StatusOf(base, true)) {
        const std::size_t cut = base.find_last_of(Separators(kNativePathStyle));
        if (cut == std::string::npos) {
            missing.insert(missing.begin(), base);
            base.clear();
            break;
        }
        missing.insert(missing.begin(), base.substr(cut + 1));
        base.resize(cut == 0 ? 1 : cut);
    }
    std::erase_if(missing, [](const std::string& part) { return part.empty() || part == "."; });
    support::NativeFolder::OpenChain(base.empty() ? "." : base, missing, outputDir);
}

}  // namespace vexmira::cli
