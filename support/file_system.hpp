#pragma once
// The platform edge of the file layer: one implementation on Win32, one on POSIX.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexmira::support {

// Names one file: device and inode, or on Windows the volume's serial number
// and the file index.
struct FileId {
    std::uint64_t Device = 0;
    std::uint64_t Index = 0;
    auto operator<=>(const FileId&) const = default;
};

// An open file handle, closed on destruction. Offsets are explicit so the
// stream above keeps the only notion of a current position.
class NativeFile {
public:
    NativeFile() = default;
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    ~NativeFile();

    // Both raise on failure: EFOpenError / EFCreateError with the full message.
    // A file opened for reading is shared with other readers of this system
    // on POSIX (a shared advisory lock; writers take an exclusive one), and
    // with no one on Windows.
    static NativeFile OpenReadExclusive(const std::string& path);
    static NativeFile CreateExclusive(const std::string& path);
#ifndef _WIN32
    // Takes ownership of an open descriptor.
    static NativeFile Adopt(int fd);
    int Descriptor() const noexcept { return fd_; }
#endif

    // Return the count transferred; 0 on error or at the end.
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) noexcept;
    std::size_t WriteAt(std::int64_t offset, const void* buffer, std::size_t count) noexcept;
    // -1 when the system cannot tell.
    std::int64_t Size() const noexcept;

    bool IsOpen() const noexcept;
    void Close() noexcept;
    // None when the system cannot tell.
    std::optional<FileId> Id() const noexcept;

private:
    friend class NativeFolder;
#ifdef _WIN32
    explicit NativeFile(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;  // INVALID_HANDLE_VALUE is never stored
#else
    explicit NativeFile(int fd) : fd_(fd) {}
    int fd_ = -1;
#endif
};

// A folder held open, so that what is made in it lands there and not wherever
// its path leads by then. On POSIX every step is a descriptor and names are
// resolved below it (openat); on Windows every folder of the chain is held
// open without delete sharing, so none can be renamed, removed or swapped for
// a link while it is held, and names are resolved through the pinned path.
class NativeFolder {
public:
    NativeFolder() = default;
    NativeFolder(NativeFolder&& other) noexcept;
    NativeFolder& operator=(NativeFolder&& other) noexcept;
    NativeFolder(const NativeFolder&) = delete;
    NativeFolder& operator=(const NativeFolder&) = delete;
    ~NativeFolder();

    // Opens `base` (links followed: the user named it), then each of `parts`
    // below the last, made when missing and refused when it is a link, a
    // junction or a file. Raises EFCreateError naming `file` (the file about
    // to be made there) with the reason.
    static NativeFolder OpenChain(const std::string& base, const std::vector<std::string>& parts,
                                  const std::string& file);

    // Creates `name` here, new (never an existing name, never through a
    // link), for reading and writing, held exclusively, and removed again
    // when it is closed uncommitted on Windows; none when the name exists.
    // Raises EFCreateError naming `path`.
    std::optional<NativeFile> CreateNew(const std::string& name, const std::string& path) const;
    // Opens an existing `name` that may be replaced (a regular file with no
    // other name, writable, that no one of this system is using) and holds it
    // exclusively; an empty file when there is no such name. Anything else
    // raises EFCreateError naming `path` with the reason.
    NativeFile OpenReplaceable(const std::string& name, const std::string& path) const;
    // Puts `file` (made by CreateNew as `from`) in place as `to`, replacing
    // what is there. `replaced`, the file OpenReplaceable held there, is
    // closed first where the system needs it. Raises EFCreateError naming `path`.
    void Commit(NativeFile& file, const std::string& from, const std::string& to, NativeFile& replaced,
                const std::string& path) const;
    // Removes `name`; errors are ignored.
    void Remove(const std::string& name) const noexcept;
    // What `name` here is, without following a link; none when nothing is.
    std::optional<FileId> IdOf(const std::string& name) const noexcept;
    // What this folder is; none when it is not open or the system cannot say.
    std::optional<FileId> Id() const noexcept;

    bool IsOpen() const noexcept;

    // Names to remove if the process is ended by a signal it can catch
    // (POSIX; on Windows an uncommitted file vanishes when its handle
    // closes, however the process ends). Returns a slot for Forget, or -1
    // when all slots are taken.
    int RememberForSignals(const std::string& name) const noexcept;
    static void ForgetForSignals(int slot) noexcept;

private:
#ifdef _WIN32
    std::string path_;
    std::vector<void*> held_;  // the chain's handles, base first
#else
    explicit NativeFolder(int fd) : fd_(fd) {}
    int fd_ = -1;
#endif
};

// From now on, the process removes the names remembered with
// RememberForSignals when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends it (those
// the parent left ignored stay ignored, except SIGPIPE, which then ends the
// process quietly as a closed pipe does other tools). Nothing on Windows.
void RemoveRememberedFilesOnSignals() noexcept;

// From now on, paths given to this layer and the paths and system texts in its
// messages are UTF-8 (on Windows converted to and from UTF-16 at each system
// call) rather than in the ANSI code page. The command-line tool turns this
// on as it starts; the plug-in never does, as its host hands it ANSI paths.
// POSIX paths are bytes either way.
void UseUtf8Paths() noexcept;

#ifdef _WIN32
// UTF-8 <-> UTF-16; an invalid sequence becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// True once UseUtf8Paths() was called.
bool Utf8Paths() noexcept;
#endif

// The FILE that stands for standard input.
inline constexpr std::string_view kStandardInputName = "-";

// From now on, opening kStandardInputName for reading opens standard input:
// standard input itself when it is a regular file (read whole, from its
// start), else what it holds, copied in bounded steps to an unlinked
// temporary file in $TMPDIR (or /tmp; on Windows the user's temporary
// folder) that vanishes with the process. Raises EFOpenError naming standard
// input with the reason.
void OpenStandardInput();

// The path made absolute the way the system would (no link resolution; the
// file need not exist).
std::string AbsolutePath(const std::string& path);

// True when a regular file (not a directory or device) exists at path.
bool RegularFileExists(const std::string& path);

// The system's description of the last failed call, without trailing blanks,
// line breaks and full stops.
std::string LastSystemErrorText();

// Removes trailing blanks, line breaks and full stops from a system message.
std::string TrimSystemMessage(std::string text);

// The file stream's messages, on every platform and for every caller:
// 'Cannot open file "<absolute path>". <reason>', and the same on "Cannot create file ".
std::string OpenErrorMessage(const std::string& path, std::string_view reason);
std::string CreateErrorMessage(const std::string& path, std::string_view reason);
// 'Cannot <what> standard input ("-"). <reason>'.
std::string StandardInputErrorMessage(std::string_view what, std::string_view reason);

// Reparse tags that make a name lead to another file or folder: symbolic
// links (the Windows kind and the Linux subsystem's) and mount points
// (junctions). A side file of that kind is refused. Every other reparse point
// (cloud placeholders, deduplicated or system-compressed files) is the file
// itself to whoever opens it, and is replaced like any other.
inline constexpr std::uint32_t kReparseTagMountPoint = 0xA0000003;
inline constexpr std::uint32_t kReparseTagSymlink = 0xA000000C;
inline constexpr std::uint32_t kReparseTagLinuxSymlink = 0xA000001D;
constexpr bool IsLinkReparseTag(std::uint32_t tag) noexcept {
    return tag == kReparseTagMountPoint || tag == kReparseTagSymlink || tag == kReparseTagLinuxSymlink;
}

// Why a file that another stream holds cannot be opened, in the words Windows
// uses for a sharing violation, so the condition reads the same everywhere.
inline constexpr std::string_view kFileInUseReason =
    "The process cannot access the file because it is being used by another process";

}  // namespace vexmira::support
