#include "cli/sources.hpp"

#include <algorithm>

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::cli {

namespace {

constexpr std::string_view kSideFileSuffix = "$$$";

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

void FileSource::AddNamesFrom(std::istream& in, bool nul) {
    for (std::string name; std::getline(in, name, nul ? '\0' : '\n');) {
        if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) names_.push_back(std::move(name));
    }
}

std::optional<std::uint64_t> FileSource::KnownTotal() const {
    if (!walk_.empty() || options_.Recursive) {
        // With folders to walk, the count is known only when all are walked.
        if (walk_.empty() && next_name_ == names_.size()) return yielded_;
        return std::nullopt;
    }
    return yielded_ + (names_.size() - next_name_);
}

std::vector<std::string> FileSource::TakeLoops() { return std::exchange(loops_, {}); }

std::optional<SourceItem> FileSource::Visit(const std::string& path, bool named) {
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
            loops_.push_back(path);
            return std::nullopt;
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
        if (path.size() >= kSideFileSuffix.size() && path.ends_with(kSideFileSuffix)) return std::nullopt;
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

std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix,
                          PathStyle style) {
    std::vector<std::string> parts;
    for (std::string& part : Parts(input, style)) {
        if (part == "..") {
            if (!parts.empty() && parts.back() != "%2E%2E") {
                parts.pop_back();
            } else {
                parts.emplace_back("%2E%2E");
            }
        } else if (part != ".") {
            if (style == PathStyle::Windows) {
                for (std::size_t colon = part.find(':'); colon != std::string::npos; colon = part.find(':', colon)) {
                    part.replace(colon, 1, "%3A");
                }
            }
            parts.push_back(std::move(part));
        }
    }
    std::string path = outputDir;
    for (const std::string& part : parts) path = Joined(path, part, style);
    return path + suffix;
}

void MakeParentFolders(const std::string& outputDir, const std::string& path) {
    // Everything below the folder but the file's own name.
    std::vector<std::string> folders = Parts(std::string_view(path).substr(outputDir.size()), kNativePathStyle);
    if (!folders.empty()) folders.pop_back();
    try {
        platform::MakeFolderChain(outputDir, folders);
    } catch (const platform::SystemError& error) {
        throw support::EFCreateError(support::CreateErrorMessage(path, error.what()));
    }
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
    platform::MakeFolderChain(base.empty() ? "." : base, missing);
}

}  // namespace vexmira::cli
