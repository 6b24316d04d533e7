// The tool's platform edge on POSIX.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fstream>

#include "cli/platform.hpp"
#include "support/file_system.hpp"

namespace vexmira::cli::platform {

namespace {

std::string Reason(int code) { return support::TrimSystemMessage(std::strerror(code)); }

// A descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace

Process::Process() {
    // A closed pipe ends the process quietly, as it does other tools, even
    // when the parent left SIGPIPE ignored.
    std::signal(SIGPIPE, SIG_DFL);
}

Process::~Process() = default;

bool IsPipe(int fd) noexcept {
    struct stat info {};
    return fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

std::size_t AtomicPipeWrite() noexcept { return PIPE_BUF; }

bool IsTerminal(int fd) noexcept { return isatty(fd) != 0; }

std::size_t WriteSome(int fd, const char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError(Reason(errno));
        return static_cast<std::size_t>(n);
    }
}

std::unique_ptr<std::istream> OpenListFile(const std::string& path) {
    auto list = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!*list) return nullptr;
    return list;
}

std::optional<FileStatus> StatusOf(const std::string& path, bool follow) {
    struct stat info {};
    if ((follow ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) return std::nullopt;
    FileStatus status;
    status.Kind = S_ISREG(info.st_mode) ? FileKind::Regular : S_ISDIR(info.st_mode) ? FileKind::Directory : FileKind::Other;
    status.Id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    status.Size = static_cast<std::int64_t>(info.st_size);
    return status;
}

std::vector<std::string> FolderNames(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) throw SystemError(Reason(errno));
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

void MakeFolderChain(const std::string& base, const std::vector<std::string>& parts) {
    auto folder = std::make_unique<Descriptor>(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder->Get() < 0) throw SystemError("The output folder cannot be opened: " + Reason(errno));
    for (const std::string& part : parts) {
        if (mkdirat(folder->Get(), part.c_str(), 0777) != 0 && errno != EEXIST) throw SystemError(Reason(errno));
        // Each step is opened below the last without following a link, so a
        // folder on the way that is a link cannot lead the file anywhere.
        auto next = std::make_unique<Descriptor>(
            openat(folder->Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next->Get() < 0) {
            const int code = errno;
            throw SystemError(code == ELOOP || code == ENOTDIR ? "A folder on the way is a symbolic link or a file"
                                                               : Reason(code));
        }
        folder = std::move(next);
    }
}

std::vector<std::string> ExpandArgument(const std::string& argument) { return {argument}; }

}  // namespace vexmira::cli::platform
