// POSIX file layer. Windows opens files without sharing; POSIX cannot keep
// every other process out, so the open stream holds an advisory flock
// instead: shared for reading, exclusive for writing. Any number of streams
// of this system (threads or processes) read one file at once, while a file
// being written is kept from every other stream (another vexmira process, or
// a second open of the same file in this one, such as a side file that is a
// link to its own input); programs that ignore advisory locks can still open
// the file.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
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

// The advisory lock that stands in for Windows' open without sharing:
// LOCK_SH for a reader, LOCK_EX for a writer.
template <class Error>
void Lock(int fd, int kind, MessageBuilder describe, const std::string& path) {
    // Filesystems without flock support report EOPNOTSUPP or ENOLCK: go on anyway.
    if (flock(fd, kind | LOCK_NB) != 0 && errno == EWOULDBLOCK) throw Error(describe(path, kFileInUseReason));
}

template <class Error>
void LockExclusive(int fd, MessageBuilder describe, const std::string& path) {
    Lock<Error>(fd, LOCK_EX, describe, path);
}

// Standard input as a file, once ReadStandardInputFrom was given one.
int standard_input_file = -1;

NativeFile OpenForReading(const std::string& path) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = path == kStandardInputName && standard_input_file >= 0
                       ? fcntl(standard_input_file, F_DUPFD_CLOEXEC, 0)
                       : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw EFOpenError(OpenErrorMessage(path, ErrorText(errno)));
    NativeFile file = NativeFile::Adopt(fd);
    if (std::string reason = UnsuitableFileReason(fd); !reason.empty()) throw EFOpenError(OpenErrorMessage(path, reason));
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    Lock<EFOpenError>(fd, LOCK_SH, OpenErrorMessage, path);
    return file;
}

// Creates `name` below `folder` (AT_FDCWD: `name` is a path), never an
// existing name and never through a link; -1 with errno EEXIST when it exists.
int CreateNewAt(int folder, const char* name, const std::string& path) {
    const int fd = openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) throw EFCreateError(CreateErrorMessage(path, ErrorText(errno)));
    return fd;
}

// Opens an existing `name` below `folder` without following a link, checked
// and held exclusively; an empty file when the name is not there.
NativeFile OpenReplaceableAt(int folder, const char* name, const std::string& path) {
    const int fd = openat(folder, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) return {};
    if (fd < 0) {
        throw EFCreateError(CreateErrorMessage(path, errno == ELOOP ? "The file is a symbolic link" : ErrorText(errno)));
    }
    NativeFile file = NativeFile::Adopt(fd);
    if (std::string reason = UnreplaceableFileReason(fd); !reason.empty()) {
        throw EFCreateError(CreateErrorMessage(path, reason));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    LockExclusive<EFCreateError>(fd, CreateErrorMessage, path);
    return file;
}

NativeFile CreateOrReplace(const std::string& path) {
    // A new file is ours as it is. An existing name is opened without
    // following a link and checked before anything is emptied, so no other
    // file is ever written through it. A name removed between the two opens
    // is tried again.
    for (int attempt = 0;; ++attempt) {
        int fd = CreateNewAt(AT_FDCWD, path.c_str(), path);
        if (fd >= 0) {
            NativeFile file = NativeFile::Adopt(fd);
            LockExclusive<EFCreateError>(fd, CreateErrorMessage, path);
            return file;
        }
        NativeFile file = OpenReplaceableAt(AT_FDCWD, path.c_str(), path);
        if (!file.IsOpen() && attempt < 3) continue;
        if (!file.IsOpen()) throw EFCreateError(CreateErrorMessage(path, ErrorText(ENOENT)));
        if (ftruncate(file.Descriptor(), 0) != 0) throw EFCreateError(CreateErrorMessage(path, ErrorText(errno)));
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

void ReadStandardInputFrom(NativeFile file) {
    standard_input_file = file.Descriptor();
    // OpenForReading hands out copies of it.
    static NativeFile held;
    held = std::move(file);
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

namespace {

std::optional<FileId> IdOfDescriptor(int fd) noexcept {
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileId> NativeFile::Id() const noexcept { return IdOfDescriptor(fd_); }

// ---------------------------------------------------------------------------
// Removal on signals. The handler may only touch what is safe in it: fixed
// slots, each a folder descriptor and a name, published by an atomic state.

namespace {

enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };

struct SignalSlot {
    std::atomic<int> State{kFree};
    int Folder = -1;
    char Name[NAME_MAX + 1] = {};
};

constexpr std::size_t kSignalSlots = 1100;  // above the most jobs a run may have, each with one file at a time
SignalSlot signal_slots[kSignalSlots];

}  // namespace

int RememberForSignals(int folder, const std::string& name) noexcept {
    if (name.size() > NAME_MAX) return -1;
    for (std::size_t i = 0; i < kSignalSlots; ++i) {
        int expected = kFree;
        if (!signal_slots[i].State.compare_exchange_strong(expected, kFilling)) continue;
        signal_slots[i].Folder = folder;
        std::memcpy(signal_slots[i].Name, name.c_str(), name.size() + 1);
        signal_slots[i].State.store(kReady);
        return static_cast<int>(i);
    }
    return -1;
}

void ForgetForSignals(int slot) noexcept {
    if (slot >= 0 && static_cast<std::size_t>(slot) < kSignalSlots) signal_slots[slot].State.store(kFree);
}

void RemoveRememberedFiles() noexcept {
    for (SignalSlot& slot : signal_slots) {
        if (slot.State.load() == kReady) unlinkat(slot.Folder, slot.Name, 0);
    }
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

std::string UnreplaceableFileReason(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return ErrorText(errno);
    if (S_ISDIR(info.st_mode)) return ErrorText(EISDIR);
    if (!S_ISREG(info.st_mode)) return "Not a regular file";
    if (info.st_nlink != 1) return "The file has " + std::to_string(info.st_nlink) + " links";
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "The file is read-only";
    return {};
}

std::string SystemErrorText(int code) { return ErrorText(code); }

bool PathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

void UseUtf8Paths() noexcept {}

std::string LastSystemErrorText() { return ErrorText(errno); }

}  // namespace vexmira::support
