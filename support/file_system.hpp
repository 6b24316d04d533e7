#pragma once
// The platform edge of the file layer: one implementation on Win32, one on POSIX.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexmira::support {

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
    static NativeFile OpenReadExclusive(const std::string& path);
    static NativeFile CreateExclusive(const std::string& path);
#ifndef _WIN32
    // Takes ownership of an open descriptor.
    static NativeFile Adopt(int fd);
#endif

    // Return the count transferred; 0 on error or at the end.
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) noexcept;
    std::size_t WriteAt(std::int64_t offset, const void* buffer, std::size_t count) noexcept;
    // -1 when the system cannot tell.
    std::int64_t Size() const noexcept;

    bool IsOpen() const noexcept;
    void Close() noexcept;

private:
#ifdef _WIN32
    explicit NativeFile(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;  // INVALID_HANDLE_VALUE is never stored
#else
    explicit NativeFile(int fd) : fd_(fd) {}
    int fd_ = -1;
#endif
};

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
