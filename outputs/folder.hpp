#pragma once
// A folder held open, so that what is made in it lands there and not wherever
// its path leads by then. On POSIX every step is a descriptor and names are
// resolved below it (openat), so no path is ever longer than one name; on
// Windows every folder of the chain is held open without delete sharing, so
// none can be renamed, removed or swapped for a link while it is held, and
// names are resolved through the path the held folder really has.

#include <optional>
#include <string>
#include <vector>

#include "support/file_system.hpp"

namespace vexmira::outputs {

// What the final step does with a name that exists by then.
enum class Existing {
    // Never replaced: the step fails with `reason`.
    Keep,
    // Replaced when it is a regular file with no other name, writable, that
    // no stream of this system holds; checked on what the step itself moved
    // aside, so nothing put there meanwhile is replaced unchecked.
    ReplaceStale,
};

class Folder {
public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // Opens `path`, links followed: the user named it, and it is resolved
    // now, once. Raises EFCreateError naming `file` (the file about to be
    // made there) with the reason.
    static Folder Open(const std::string& path, const std::string& file);
    // Each of `parts` in turn below this one, made when missing and refused
    // when it is a link, a junction or a file; this folder itself when there
    // are none. Raises EFCreateError naming `file`.
    Folder Below(const std::vector<std::string>& parts, const std::string& file) const;

    // Creates `name` here, new (never an existing name, never through a
    // link), for reading and writing, held exclusively, and removed again
    // when it is closed uncommitted on Windows; none when the name exists.
    // Raises EFCreateError naming `path`.
    std::optional<support::NativeFile> CreateNew(const std::string& name, const std::string& path) const;
    // Puts `file` (made by CreateNew as `from`) in place as `to`, dealing
    // with an existing `to` as `existing` says. On failure `from` is removed
    // before EFCreateError naming `path` is raised, so that the error can be
    // reported where the file took room.
    void Commit(support::NativeFile& file, const std::string& from, const std::string& to, Existing existing,
                const std::string& path, const std::string& existsReason) const;
    // Removes `name`; errors are ignored.
    void Remove(const std::string& name) const noexcept;
    // What `name` here is, without following a link; none when nothing is.
    std::optional<support::FileId> IdOf(const std::string& name) const noexcept;
    // What this folder is; none when it is not open or the system cannot say.
    std::optional<support::FileId> Id() const noexcept;

    bool IsOpen() const noexcept;

    // `name` here is removed if a signal the process catches ends it
    // (POSIX; on Windows an uncommitted file vanishes when its handle
    // closes, however the process ends). A slot for Forget, or -1.
    int RememberForSignals(const std::string& name) const noexcept;
    static void ForgetForSignals(int slot) noexcept;

private:
#ifdef _WIN32
    std::string path_;
    std::vector<void*> held_;  // the chain's handles, base first
#else
    explicit Folder(int fd) : fd_(fd) {}
    int fd_ = -1;
#endif
};

}  // namespace vexmira::outputs
