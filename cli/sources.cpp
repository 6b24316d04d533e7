#include "cli/sources.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::cli {

namespace {

constexpr std::string_view kSideFileSuffix = "$$$";

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Reason(int code) { return support::TrimSystemMessage(std::strerror(code)); }

}  // namespace

struct FileSource::Folder {
    std::string Path;
    FileId Id;
    std::vector<std::string> Names;
    std::size_t Next = 0;
};

FileSource::FileSource(SourceOptions options) : options_(std::move(options)) {
    if (options_.OutputDir) {
        struct stat info {};
        if (stat(options_.OutputDir->c_str(), &info) == 0) output_dir_ = FileId{info.st_dev, info.st_ino};
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
    struct stat info {};
    // A name the user gave is followed wherever it points; one found in a
    // walk only with FollowLinks.
    const bool follow = named || options_.FollowLinks;
    if ((follow ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) {
        // Examining it reports why it cannot be opened, in the usual words.
        if (named) return SourceItem{.Path = path, .Size = 0, .Error = std::nullopt};
        return std::nullopt;
    }
    const FileId id{info.st_dev, info.st_ino};
    if (S_ISDIR(info.st_mode)) {
        if (!options_.Recursive) {
            if (!named) return std::nullopt;
            return SourceItem{.Path = path,
                              .Size = 0,
                              .Error = "Cannot open file \"" + support::AbsolutePath(path) +
                                       "\". Is a directory; use -r to examine the files in it"};
        }
        if (output_dir_ && id == *output_dir_ && !named) return std::nullopt;
        if (std::any_of(walk_.begin(), walk_.end(), [&](const auto& folder) { return folder->Id == id; })) {
            loops_.push_back(path);
            return std::nullopt;
        }
        if (!FirstVisit(id)) return std::nullopt;
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) {
            return SourceItem{.Path = path,
                              .Size = 0,
                              .Error = "Cannot open folder \"" + support::AbsolutePath(path) + "\". " + Reason(errno)};
        }
        auto folder = std::make_unique<Folder>();
        folder->Path = path;
        folder->Id = id;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            folder->Names.push_back(name);
        }
        closedir(dir);
        std::sort(folder->Names.begin(), folder->Names.end());  // byte order
        walk_.push_back(std::move(folder));
        return std::nullopt;
    }
    if (!named) {
        // In a walk only regular files count, and this tool's own side files do not.
        if (!S_ISREG(info.st_mode)) return std::nullopt;
        if (path.size() >= kSideFileSuffix.size() && path.ends_with(kSideFileSuffix)) return std::nullopt;
    }
    if (!FirstVisit(id)) return std::nullopt;
    return SourceItem{.Path = path,
                      .Size = S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : 0,
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

std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t slash = input.find('/', start);
        if (slash == std::string::npos) slash = input.size();
        std::string part = input.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "%2E%2E") {
                parts.pop_back();
            } else {
                parts.emplace_back("%2E%2E");
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = slash + 1;
    }
    std::string path = outputDir;
    for (const std::string& part : parts) path = Joined(path, part);
    return path + suffix;
}

void MakeParentFolders(const std::string& outputDir, const std::string& path) {
    const auto fail = [&](const std::string& reason) {
        throw support::EFCreateError("Cannot create file \"" + support::AbsolutePath(path) + "\". " + reason);
    };
    int fd = open(outputDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("The output folder cannot be opened: " + Reason(errno));
    std::size_t start = outputDir.size();
    while (start < path.size() && path[start] == '/') ++start;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) break;
        const std::string part = path.substr(start, slash - start);
        start = slash + 1;
        if (part.empty()) continue;
        if (mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
            const int code = errno;
            close(fd);
            fail(Reason(code));
        }
        // A folder on the way that is a link could lead the file anywhere.
        const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int code = errno;
        close(fd);
        if (next < 0) fail(code == ELOOP || code == ENOTDIR ? "A folder on the way is a symbolic link or a file" : Reason(code));
        fd = next;
    }
    close(fd);
}

}  // namespace vexmira::cli
