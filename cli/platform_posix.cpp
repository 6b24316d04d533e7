// The tool's platform edge on POSIX.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "cli/platform.hpp"
#include "support/exception.hpp"
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

// The signals that end the process after removing what it was still writing.
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void RemoveRememberedAndDie(int signal) {
    support::RemoveRememberedFiles();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// Installs RemoveRememberedAndDie for kCleanedSignals.
void RemoveRememberedFilesOnSignals() noexcept {
    for (const int signal : kCleanedSignals) {
        struct sigaction action {};
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        // What the parent ignored stays ignored, but a closed pipe always ends the tool.
        if (previous.sa_handler == SIG_IGN && signal != SIGPIPE) continue;
        action.sa_handler = RemoveRememberedAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kCleanedSignals) sigaddset(&action.sa_mask, other);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}


const char* TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// A new file in `folder` that no name leads to.
support::NativeFile UnnamedTemporaryFile(const std::string& folder) {
#ifdef O_TMPFILE
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return support::NativeFile::Adopt(fd);
    // Filesystems without it say so in several ways; the named way still works there.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        throw support::EFOpenError(support::StandardInputErrorMessage("spill", "The temporary folder \"" + folder + "\": " + support::SystemErrorText(errno)));
    }
#endif
    std::string name = folder + "/vexmira-stdin-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named < 0) {
        throw support::EFOpenError(support::StandardInputErrorMessage("spill", "The temporary folder \"" + folder + "\": " + support::SystemErrorText(errno)));
    }
    support::NativeFile file = support::NativeFile::Adopt(named);
    unlink(name.c_str());
    return file;
}

}  // namespace

Process::Process() {
    // A closed pipe ends the process quietly, as it does other tools, even
    // when the parent left SIGPIPE ignored; that and SIGINT, SIGTERM and
    // SIGHUP first remove any output still being written.
    RemoveRememberedFilesOnSignals();
}

Process::~Process() = default;

void OpenStandardInput() {
    struct stat info {};
    if (fstat(STDIN_FILENO, &info) != 0) {
        throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(errno)));
    }
    if (S_ISREG(info.st_mode)) {
        const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(errno)));
        support::ReadStandardInputFrom(support::NativeFile::Adopt(fd));
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(EISDIR)));
    }
    const std::string folder = TemporaryFolder();
    support::NativeFile spill = UnnamedTemporaryFile(folder);
    // Bounded steps: what the pipe holds may be larger than memory, never than the disk.
    constexpr std::size_t kStep = std::size_t{1} << 20;
    const std::unique_ptr<char[]> buffer(new char[kStep]);
    std::int64_t written = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer.get(), kStep);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(errno)));
        if (n == 0) break;
        const auto count = static_cast<std::size_t>(n);
        errno = 0;
        if (spill.WriteAt(written, buffer.get(), count) != count) {
            const int code = errno != 0 ? errno : ENOSPC;
            throw support::EFOpenError(support::StandardInputErrorMessage(
                "spill", "Writing to the temporary folder \"" + folder + "\": " + support::SystemErrorText(code)));
        }
        written += n;
    }
    support::ReadStandardInputFrom(std::move(spill));
}

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
