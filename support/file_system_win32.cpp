// Win32 file layer: files are opened with share mode 0, so no one else can
// open them while they are open, and they fail to open while anyone else has them.
// Paths are ANSI, as the plug-in's host hands them, until the command-line
// tool switches the layer to UTF-8 (then the wide calls are used).

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::support {
namespace {

std::atomic<bool> utf8_paths = false;

// None when the system has no text for the code.
std::optional<std::string> SystemText(DWORD code) {
    if (utf8_paths) {
        wchar_t wide[512] = {};
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                            wide, sizeof wide / sizeof wide[0], nullptr);
        if (length == 0) return std::nullopt;
        return TrimSystemMessage(Utf8FromWide(std::wstring_view(wide, length)));
    }
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    if (length == 0) return std::nullopt;
    return TrimSystemMessage(std::string(text, length));
}

std::string ErrorText(DWORD code) { return SystemText(code).value_or("System error " + std::to_string(code)); }

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    if (utf8_paths) return CreateFileW(WideFromUtf8(path).c_str(), access, 0, nullptr, disposition, flags, nullptr);
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, flags, nullptr);
}

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

bool MoveTo(HANDLE file, std::int64_t offset) {
    LARGE_INTEGER target;
    target.QuadPart = offset;
    return SetFilePointerEx(file, target, nullptr, FILE_BEGIN) != 0;
}

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kLargestTransfer = 1u << 30;

}  // namespace

NativeFile::NativeFile(NativeFile&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

NativeFile::~NativeFile() { Close(); }

bool NativeFile::IsOpen() const noexcept { return handle_ != nullptr; }

void NativeFile::Close() noexcept {
    if (handle_ != nullptr) {
        CloseHandle(AsHandle(handle_));
        handle_ = nullptr;
    }
}

// Standard input as a file, once ReadStandardInputFrom was given one.
HANDLE standard_input_file = nullptr;

NativeFile NativeFile::OpenReadExclusive(const std::string& path) {
    if (path == kStandardInputName && standard_input_file != nullptr) {
        // Every read moves the file pointer first, so copies sharing it are safe one after another.
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), standard_input_file, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            throw EFOpenError(StandardInputErrorMessage("read", ErrorText(GetLastError())));
        }
        return NativeFile(copy);
    }
    HANDLE file = OpenFile(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        std::string reason = ErrorText(code);
        std::string message = OpenErrorMessage(path, reason);
        throw EFOpenError(std::move(message), SystemCause{ErrnoOfSystemError(code), path, std::move(reason)});
    }
    return NativeFile(file);
}

namespace {

[[noreturn]] void RefuseSideFile(const std::string& path, const std::string& reason) {
    throw EFCreateError(CreateErrorMessage(path, reason));
}

// With the system's code as an errno, for callers that hand the error on by its kind (Python's OSError).
[[noreturn]] void RefuseWithSystemText(const std::string& path) {
    const DWORD code = GetLastError();
    std::string reason = ErrorText(code);
    std::string message = CreateErrorMessage(path, reason);
    throw EFCreateError(std::move(message), SystemCause{ErrnoOfSystemError(code), path, std::move(reason)});
}

// The system's words for a name that leads elsewhere, where it has them.
std::string LinkReason() {
    constexpr DWORD kStoppedOnSymlink = 681;  // ERROR_STOPPED_ON_SYMLINK, which not every SDK names
    return SystemText(kStoppedOnSymlink).value_or("The file is a symbolic link or junction");
}

BY_HANDLE_FILE_INFORMATION Identity(HANDLE handle, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) RefuseWithSystemText(path);
    return info;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) noexcept {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}


}  // namespace

NativeFile NativeFile::CreateExclusive(const std::string& path) {
    // OPEN_ALWAYS, not CREATE_ALWAYS, which would empty the file before it
    // could be checked. The reparse point itself is opened, never its target.
    HANDLE handle = OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) RefuseWithSystemText(path);
    NativeFile file(handle);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) RefuseWithSystemText(path);
    const BY_HANDLE_FILE_INFORMATION opened = Identity(handle, path);
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (IsLinkReparseTag(tag.ReparseTag)) RefuseSideFile(path, LinkReason());
        // Any other reparse point is opened again the ordinary way, so that
        // its filter (cloud sync, deduplication, compression) serves the
        // writes; the name must still be the same file.
        file.Close();
        handle = OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (handle == INVALID_HANDLE_VALUE) RefuseWithSystemText(path);
        file = NativeFile(handle);
        if (!SameFile(opened, Identity(handle, path))) RefuseSideFile(path, "The file was replaced while it was opened");
    }
    // Only a regular file with no other name is ours to empty.
    if (opened.nNumberOfLinks != 1) {
        RefuseSideFile(path, "The file has " + std::to_string(opened.nNumberOfLinks) + " links");
    }
    if (!MoveTo(handle, 0) || !SetEndOfFile(handle)) RefuseWithSystemText(path);
    return file;
}

std::size_t NativeFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) noexcept {
    if (!MoveTo(AsHandle(handle_), offset)) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = count - done < kLargestTransfer ? count - done : kLargestTransfer;
        DWORD n = 0;
        if (!ReadFile(AsHandle(handle_), out + done, static_cast<DWORD>(chunk), &n, nullptr) || n == 0) break;
        done += n;
    }
    return done;
}

std::size_t NativeFile::WriteAt(std::int64_t offset, const void* buffer, std::size_t count) noexcept {
    if (!MoveTo(AsHandle(handle_), offset)) return 0;
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = count - done < kLargestTransfer ? count - done : kLargestTransfer;
        DWORD n = 0;
        if (!WriteFile(AsHandle(handle_), in + done, static_cast<DWORD>(chunk), &n, nullptr) || n == 0) break;
        done += n;
    }
    return done;
}

std::int64_t NativeFile::Size() const noexcept {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(handle_), &size)) return -1;
    return size.QuadPart;
}

namespace {

std::optional<FileId> IdOfHandle(void* handle) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AsHandle(handle), &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

}  // namespace

std::optional<FileId> NativeFile::Id() const noexcept { return IdOfHandle(handle_); }

// Only a regular file with no other name is ours to empty or replace; a
// link's reparse point is refused, any other (cloud sync, deduplication,
// compression) is an ordinary file to its filter.
void CheckReplaceable(void* opened, const std::string& path) {
    HANDLE handle = AsHandle(opened);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) RefuseWithSystemText(path);
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkReparseTag(tag.ReparseTag)) {
        RefuseSideFile(path, LinkReason());
    }
    const BY_HANDLE_FILE_INFORMATION info = Identity(handle, path);
    if (info.nNumberOfLinks != 1) {
        RefuseSideFile(path, "The file has " + std::to_string(info.nNumberOfLinks) + " links");
    }
}

std::string SystemErrorText(unsigned long code) { return ErrorText(code); }

void UseUtf8Paths() noexcept { utf8_paths = true; }

void ReadStandardInputFrom(NativeFile file) {
    // Kept for the rest of the process; readers get copies.
    standard_input_file = file.Handle();
    static NativeFile held;
    held = std::move(file);
}

bool Utf8Paths() noexcept { return utf8_paths; }

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
    return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    if (utf8_paths) {
        const std::wstring wide = WideFromUtf8(path);
        const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (needed == 0) return path;
        std::vector<wchar_t> full(needed + 1);
        const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0 || length >= full.size()) return path;
        return Utf8FromWide(std::wstring_view(full.data(), length));
    }
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<char> full(needed + 1);
    const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) return path;
    return std::string(full.data(), length);
}

bool RegularFileExists(const std::string& path) {
    const DWORD attributes =
        utf8_paths ? GetFileAttributesW(WideFromUtf8(path).c_str()) : GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathExists(const std::string& path) {
    const DWORD attributes =
        utf8_paths ? GetFileAttributesW(WideFromUtf8(path).c_str()) : GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

std::string LastSystemErrorText() { return ErrorText(GetLastError()); }

}  // namespace vexmira::support
