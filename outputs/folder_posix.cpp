// Folders held open on POSIX: every step a descriptor, every name resolved
// below one (openat), so a path of any length works as long as each of its
// names fits NAME_MAX, and a link put anywhere on the way meanwhile leads
// nowhere else.

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "outputs/folder.hpp"
#include "support/exception.hpp"

namespace vexmira::outputs {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason, int code = 0) {
    throw support::EFCreateError(support::CreateErrorMessage(path, reason), support::SystemCause{code, path, reason});
}

// Fails with errno's reason, the code kept for callers that hand it on.
[[noreturn]] void FailWithErrno(const std::string& path, std::string_view before = {}) {
    const int code = errno;
    Fail(path, std::string(before) + support::SystemErrorText(code), code);
}

// Why `name` below `folder` may not be replaced; empty when it may. Only a
// regular file is opened, so a device or a FIFO there is never touched.
std::string StaleReason(int folder, const std::string& name) {
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return support::SystemErrorText(errno);
    if (S_ISLNK(info.st_mode)) return "The file is a symbolic link";
    if (S_ISDIR(info.st_mode)) return support::SystemErrorText(EISDIR);
    if (!S_ISREG(info.st_mode)) return "Not a regular file";
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? "The file is a symbolic link" : support::SystemErrorText(errno);
    const support::NativeFile file = support::NativeFile::Adopt(fd);
    std::string reason = support::UnreplaceableFileReason(fd);
    // A file another stream of this system reads or writes is in use.
    if (reason.empty() && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        reason = support::kFileInUseReason;
    }
    return reason;
}

bool Unsupported(int code) noexcept { return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP; }

enum class Put { Done, Exists };

// `from` becomes `to` unless `to` exists: renameat2's RENAME_NOREPLACE, or
// where the file system lacks it, a second name made with linkat (which
// never replaces either) and the first removed.
Put PutNew(int folder, const std::string& from, const std::string& to, const std::string& path) {
    if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return Put::Done;
    if (errno == EEXIST) return Put::Exists;
    if (!Unsupported(errno)) FailWithErrno(path);
    if (linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) {
        if (errno == EEXIST) return Put::Exists;
        FailWithErrno(path);
    }
    unlinkat(folder, from.c_str(), 0);
    return Put::Done;
}

// Where names cannot be exchanged: the stale file is checked and held
// (locked) through the rename over it. Something put in its place between
// the open and the rename is the one gap left, on such file systems only.
void ReplaceChecked(int folder, const std::string& from, const std::string& to, const std::string& path) {
    if (std::string reason = StaleReason(folder, to); !reason.empty()) Fail(path, reason);
    const int fd = openat(folder, to.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) FailWithErrno(path);
    const support::NativeFile held = support::NativeFile::Adopt(fd);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) Fail(path, std::string(support::kFileInUseReason));
    if (renameat(folder, from.c_str(), folder, to.c_str()) != 0) FailWithErrno(path);
}

}  // namespace

Folder::Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool Folder::IsOpen() const noexcept { return fd_ >= 0; }

std::optional<support::FileId> Folder::Id() const noexcept {
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0) return std::nullopt;
    return support::FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

Folder Folder::Open(const std::string& path, const std::string& file) {
    Folder folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) FailWithErrno(file, "The folder cannot be opened: ");
    return folder;
}

Folder Folder::Below(const std::vector<std::string>& parts, const std::string& file) const {
    Folder folder(fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    if (!folder.IsOpen()) FailWithErrno(file, "The folder cannot be opened: ");
    for (const std::string& part : parts) {
        if (mkdirat(folder.fd_, part.c_str(), 0777) != 0 && errno != EEXIST) FailWithErrno(file);
        // Each step is opened below the last without following a link, so a
        // folder on the way that is (or becomes) a link leads nowhere else.
        Folder next(openat(folder.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsOpen()) {
            const int code = errno;
            Fail(file, code == ELOOP || code == ENOTDIR ? "A folder on the way is a symbolic link or a file"
                                                        : support::SystemErrorText(code));
        }
        folder = std::move(next);
    }
    return folder;
}

std::optional<support::NativeFile> Folder::CreateNew(const std::string& name, const std::string& path) const {
    const int fd = openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) return std::nullopt;
    if (fd < 0) FailWithErrno(path);
    support::NativeFile file = support::NativeFile::Adopt(fd);
    // Kept from every other stream of this system while it is written.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) Fail(path, std::string(support::kFileInUseReason));
    return file;
}

void Folder::Commit(support::NativeFile& /*file*/, const std::string& from, const std::string& to, Existing existing,
                    const std::string& path, const std::string& existsReason) const {
    bool temporaryIsOurs = true;
    try {
        for (int attempt = 0; attempt < 16; ++attempt) {
            // A free name is taken as new, whatever may be replaced.
            if (PutNew(fd_, from, to, path) == Put::Done) return;
            if (existing == Existing::Keep) {
                // The system's reason where the name is no file at all.
                const std::string reason = StaleReason(fd_, to);
                if (reason.empty() || reason == support::kFileInUseReason) Fail(path, existsReason, EEXIST);
                Fail(path, reason);
            }
            // Ours in place and what was there aside in one step; what was
            // there is then checked, and put back when it may not be replaced.
            if (renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_EXCHANGE) == 0) {
                const std::string reason = StaleReason(fd_, from);
                if (reason.empty()) {
                    unlinkat(fd_, from.c_str(), 0);
                    return;
                }
                if (renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_EXCHANGE) != 0) {
                    // Theirs stays where it is, under the temporary name: never removed.
                    temporaryIsOurs = false;
                    throw support::EFCreateError(support::CreateErrorMessage(
                        path, reason + "; it could not be put back and is now \"" + from + "\""));
                }
                Fail(path, reason);
            }
            // Gone meanwhile: tried again as new.
            if (errno == ENOENT) continue;
            if (!Unsupported(errno)) FailWithErrno(path);
            ReplaceChecked(fd_, from, to, path);
            return;
        }
        Fail(path, "The name kept changing while the file was put in place");
    } catch (...) {
        if (temporaryIsOurs) Remove(from);
        throw;
    }
}

void Folder::Remove(const std::string& name) const noexcept { unlinkat(fd_, name.c_str(), 0); }

std::optional<support::FileId> Folder::IdOf(const std::string& name) const noexcept {
    struct stat info {};
    if (fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return support::FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

int Folder::RememberForSignals(const std::string& name) const noexcept { return support::RememberForSignals(fd_, name); }

void Folder::ForgetForSignals(int slot) noexcept { support::ForgetForSignals(slot); }

}  // namespace vexmira::outputs
