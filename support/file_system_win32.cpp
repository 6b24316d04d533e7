// Win32 file layer: files are opened with share mode 0, so no one else can
// open them while they are open, and they fail to open while anyone else has them.

#include <windows.h>

#include <vector>

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::support {
namespace {

std::string ErrorText(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    if (length == 0) return "System error " + std::to_string(code);
    return TrimSystemMessage(std::string(text, length));
}

std::string DescribeReason(const char* prefix, const std::string& path, const std::string& reason) {
    return std::string(prefix) + "\"" + AbsolutePath(path) + "\". " + reason;
}

std::string Describe(const char* prefix, const std::string& path, DWORD code) {
    return DescribeReason(prefix, path, ErrorText(code));
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

NativeFile NativeFile::OpenReadExclusive(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw EFOpenError(Describe("Cannot open file ", path, GetLastError()));
    return NativeFile(file);
}

NativeFile NativeFile::CreateExclusive(const std::string& path) {
    static constexpr const char* kPrefix = "Cannot create file ";
    // OPEN_ALWAYS, not CREATE_ALWAYS, which would empty the file before it
    // could be checked. The reparse point itself is opened, never its target.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw EFCreateError(Describe(kPrefix, path, GetLastError()));
    NativeFile file(handle);
    // Only a regular file with no other name is ours to empty.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) throw EFCreateError(Describe(kPrefix, path, GetLastError()));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw EFCreateError(DescribeReason(kPrefix, path, "The file is a symbolic link or junction"));
    }
    if (info.nNumberOfLinks != 1) {
        throw EFCreateError(
            DescribeReason(kPrefix, path, "The file has " + std::to_string(info.nNumberOfLinks) + " links"));
    }
    if (!MoveTo(handle, 0) || !SetEndOfFile(handle)) throw EFCreateError(Describe(kPrefix, path, GetLastError()));
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

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<char> full(needed + 1);
    const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) return path;
    return std::string(full.data(), length);
}

bool RegularFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string LastSystemErrorText() { return ErrorText(GetLastError()); }

}  // namespace vexmira::support
