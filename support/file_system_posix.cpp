// POSIX file layer. Windows opens files without sharing; POSIX cannot keep
// every other process out, so the open stream holds an advisory exclusive
// flock instead. That keeps out every other stream of this system (another
// vexmira process, or a second open of the same file in this one, such as a
// side file that is a link to its own input); programs that ignore advisory
// locks can still open the file.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::support {
namespace {

std::string ErrorText(int code) {
    if (code == EWOULDBLOCK) return std::string(kFileInUseReason);
    return TrimSystemMessage(std::strerror(code));
}

// OpenErrorMessage or CreateErrorMessage.
using MessageBuilder = std::string (*)(const std::string& path, std::string_view reason);

// Regular files and block devices hold a fixed run of bytes; a pipe or a
// terminal would block or never end.
std::string UnsuitableFileReason(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return ErrorText(errno);
    if (S_ISDIR(info.st_mode)) return ErrorText(EISDIR);
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) return "Not a regular file";
    return {};
}

// The advisory lock that stands in for Windows' open without sharing.
template <class Error>
void LockExclusive(int fd, MessageBuilder describe, const std::string& path) {
    // Filesystems without flock support report EOPNOTSUPP or ENOLCK: go on anyway.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) throw Error(describe(path, kFileInUseReason));
}

NativeFile OpenForReading(const std::string& path) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw EFOpenError(OpenErrorMessage(path, ErrorText(errno)));
    NativeFile file = NativeFile::Adopt(fd);
    if (std::string reason = UnsuitableFileReason(fd); !reason.empty()) throw EFOpenError(OpenErrorMessage(path, reason));
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    LockExclusive<EFOpenError>(fd, OpenErrorMessage, path);
    return file;
}

// Why an existing file may not be replaced through this name: only a regular
// file with no other name, that someone may write, is ours to empty.
std::string UnreplaceableFileReason(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return ErrorText(errno);
    if (S_ISDIR(info.st_mode)) return ErrorText(EISDIR);
    if (!S_ISREG(info.st_mode)) return "Not a regular file";
    if (info.st_nlink != 1) return "The file has " + std::to_string(info.st_nlink) + " links";
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "The file is read-only";
    return {};
}

NativeFile CreateOrReplace(const std::string& path) {
    // A new file is ours as it is. An existing name is opened without
    // following a link and checked before anything is emptied, so no other
    // file is ever written through it. A name removed between the two opens
    // is tried again.
    for (int attempt = 0;; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            NativeFile file = NativeFile::Adopt(fd);
            LockExclusive<EFCreateError>(fd, CreateErrorMessage, path);
            return file;
        }
        if (errno != EEXIST) throw EFCreateError(CreateErrorMessage(path, ErrorText(errno)));

        fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT && attempt < 3) continue;
        if (fd < 0) {
            throw EFCreateError(CreateErrorMessage(path, errno == ELOOP ? "The file is a symbolic link" : ErrorText(errno)));
        }
        NativeFile file = NativeFile::Adopt(fd);
        if (std::string reason = UnreplaceableFileReason(fd); !reason.empty()) {
            throw EFCreateError(CreateErrorMessage(path, reason));
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        LockExclusive<EFCreateError>(fd, CreateErrorMessage, path);
        if (ftruncate(fd, 0) != 0) throw EFCreateError(CreateErrorMessage(path, ErrorText(errno)));
        return file;
    }
}

}  // namespace

NativeFile NativeFile::Adopt(int fd) { return NativeFile(fd); }

NativeFile::NativeFile(NativeFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

NativeFile::~NativeFile() { Close(); }

bool NativeFile::IsOpen() const noexcept { return fd_ >= 0; }

void NativeFile::Close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);  // also releases the lock
        fd_ = -1;
    }
}

NativeFile NativeFile::OpenReadExclusive(const std::string& path) { return OpenForReading(path); }

NativeFile NativeFile::CreateExclusive(const std::string& path) { return CreateOrReplace(path); }

namespace {

// Emscripten 3.1's pread keeps only the low 32 bits of the offset, while its
// lseek takes all 64: there, a read seeks first (the page's module runs on
// one thread, and nothing else moves this descriptor's offset).
ssize_t ReadAtOffset(int fd, char* buffer, std::size_t count, off_t offset) noexcept {
#ifdef __EMSCRIPTEN__
    if (lseek(fd, offset, SEEK_SET) != offset) return -1;
    return read(fd, buffer, count);
#else
    return pread(fd, buffer, count, offset);
#endif
}

}  // namespace

std::size_t NativeFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) noexcept {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ReadAtOffset(fd_, out + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t NativeFile::WriteAt(std::int64_t offset, const void* buffer, std::size_t count) noexcept {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(fd_, in + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t NativeFile::Size() const noexcept {
    const off_t end = lseek(fd_, 0, SEEK_END);  // reads and writes are positioned, so moving the offset is harmless
    return end < 0 ? -1 : static_cast<std::int64_t>(end);
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::string joined = path;
    if (path.front() != '/') {
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return path;
            cwd.resize(cwd.size() * 2);
        }
        joined = std::string(cwd.data()) + "/" + path;
    }
    // Lexical clean-up only: "." and empty parts vanish, ".." drops one part.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        std::string part = joined.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

bool RegularFileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void UseUtf8Paths() noexcept {}

std::string LastSystemErrorText() { return ErrorText(errno); }

}  // namespace vexmira::support
