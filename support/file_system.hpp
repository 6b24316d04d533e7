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
#else
    // Takes ownership of an open handle.
    static NativeFile Adopt(void* handle) { return NativeFile(handle); }
    void* Handle() const noexcept { return handle_; }
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
#ifdef _WIN32
    explicit NativeFile(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;  // INVALID_HANDLE_VALUE is never stored
#else
    explicit NativeFile(int fd) : fd_(fd) {}
    int fd_ = -1;
#endif
};

#ifndef _WIN32
// Names to remove if the process is ended by a signal it can catch: `name`
// below the folder open as `folder`. Returns a slot for ForgetForSignals, or
// -1 when all slots are taken or the name is too long to keep.
int RememberForSignals(int folder, const std::string& name) noexcept;
void ForgetForSignals(int slot) noexcept;

// Why the open regular file `fd` may not be replaced or emptied through its
// name: only a regular file with no other name, that someone may write, is
// ours to replace. Empty when it may.
std::string UnreplaceableFileReason(int fd);

// The system's text for errno `code`, as the file layer's messages give it.
std::string SystemErrorText(int code);
#else
// Raises EFCreateError naming `path` when the open `handle` may not be
// replaced or emptied through its name: a link's reparse point, or a file
// with other names.
void CheckReplaceable(void* handle, const std::string& path);

// The system's text for the error `code` (a GetLastError value).
std::string SystemErrorText(unsigned long code);
#endif

#ifndef _WIN32
// Removes every name remembered with RememberForSignals; safe in a signal
// handler (the tool's, which ends the process after it).
void RemoveRememberedFiles() noexcept;
#endif

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

// From now on, opening kStandardInputName for reading opens a copy of `file`,
// which holds what standard input held (the tool makes it so: see
// cli/platform.hpp), kept open for the rest of the process.
void ReadStandardInputFrom(NativeFile file);

// The path made absolute the way the system would (no link resolution; the
// file need not exist).
std::string AbsolutePath(const std::string& path);

// True when a regular file (not a directory or device) exists at path.
bool RegularFileExists(const std::string& path);
// True when anything the system can reach is at path (links followed).
bool PathExists(const std::string& path);

// The system's description of the last failed call, without trailing blanks,
// line breaks and full stops.
std::string LastSystemErrorText();

// The errno a Windows system error code stands for, as the C runtime and
// Python map them (ERROR_FILE_NOT_FOUND is ENOENT, ERROR_SHARING_VIOLATION
// EACCES, ...); 0 for a code without one. Portable, so that the table is
// tested where the tests run.
int ErrnoOfSystemError(std::uint32_t code) noexcept;

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
