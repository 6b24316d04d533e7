// The tool's platform edge on POSIX.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

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
    // when the parent left SIGPIPE ignored; that and SIGINT, SIGTERM and
    // SIGHUP first remove any output still being written.
    support::RemoveRememberedFilesOnSignals();
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

void ReadListFile(const std::string& path, const std::function<void(std::string_view)>& take) {
    const bool standardInput = path == "-";
    const Descriptor opened(standardInput ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = standardInput ? kStdin : opened.Get();
    if (fd < 0) throw SystemError(Reason(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0) throw SystemError(Reason(errno));
    if (S_ISDIR(info.st_mode)) throw SystemError(Reason(EISDIR));
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError(Reason(errno));
        if (n == 0) return;
        take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
}

std::optional<FileStatus> StatusOf(const std::string& path, bool follow, std::string* reason) {
    struct stat info {};
    if ((follow ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) {
        if (reason != nullptr) *reason = Reason(errno);
        return std::nullopt;
    }
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

std::vector<std::string> ExpandArgument(const std::string& argument) { return {argument}; }

}  // namespace vexmira::cli::platform
