// The tool's platform edge on Win32. Paths are UTF-8 here and UTF-16 at the
// system calls.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/platform.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace vexmira::cli::platform {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

HANDLE StreamHandle(int fd) noexcept { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// The console's code page before the tool changed it, for a quiet exit too.
UINT saved_output_code_page = 0;

void RestoreConsole() noexcept {
    if (saved_output_code_page != 0) SetConsoleOutputCP(saved_output_code_page);
}

// Opens what `path` names to ask about it; every sharing is allowed, as
// nothing is read.
Handle OpenForQuery(const std::string& path, bool follow) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle =
        CreateFileW(support::WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return Handle(handle);
}

// A new file in `folder`, removed by the system when its last handle closes,
// however the process ends.
HANDLE TemporaryFileRemovedOnClose(const std::wstring& folder, const std::string& shown) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = folder + L"vexmira-stdin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt) + L".tmp";
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (const DWORD code = GetLastError(); code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            throw support::EFOpenError(support::StandardInputErrorMessage("spill", "The temporary folder \"" + shown + "\": " + support::SystemErrorText(code)));
        }
    }
    throw support::EFOpenError(support::StandardInputErrorMessage("spill", "The temporary folder \"" + shown + "\": no free name"));
}

}  // namespace

Process::Process() {
    // Bytes in and out, unchanged: JSON lines end in "\n" as on POSIX, and a
    // NUL-separated list is read whole.
    _setmode(kStdin, _O_BINARY);
    _setmode(kStdout, _O_BINARY);
    _setmode(kStderr, _O_BINARY);
    support::UseUtf8Paths();
    if (IsTerminal(kStdout) || IsTerminal(kStderr)) {
        saved_code_page_ = GetConsoleOutputCP();
        saved_output_code_page = saved_code_page_;
        SetConsoleOutputCP(CP_UTF8);
    }
    // The progress line redraws itself with escapes.
    DWORD mode = 0;
    if (GetConsoleMode(StreamHandle(kStderr), &mode)) {
        SetConsoleMode(StreamHandle(kStderr), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

Process::~Process() { RestoreConsole(); }

void OpenStandardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        throw support::EFOpenError(support::StandardInputErrorMessage("read", "There is no standard input"));
    }
    if (GetFileType(input) == FILE_TYPE_DISK) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(GetLastError())));
        }
        support::ReadStandardInputFrom(support::NativeFile::Adopt(copy));
        return;
    }
    wchar_t folder[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH + 1) {
        throw support::EFOpenError(support::StandardInputErrorMessage("spill", "No temporary folder: " + support::SystemErrorText(GetLastError())));
    }
    const std::wstring folderName(folder, length);
    const std::string shown = support::Utf8FromWide(folderName);
    // Kept open for the rest of the process (readers get copies); the system removes it at the end.
    Handle owned(TemporaryFileRemovedOnClose(folderName, shown));
    HANDLE spill = owned.get();
    // Bounded steps: what the pipe holds may be larger than memory, never than the disk.
    constexpr DWORD kStep = DWORD{1} << 20;
    const std::unique_ptr<char[]> buffer(new char[kStep]);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(input, buffer.get(), kStep, &n, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE) break;  // the writer closed its end: the end of the input
            throw support::EFOpenError(support::StandardInputErrorMessage("read", support::SystemErrorText(code)));
        }
        if (n == 0) break;
        for (DWORD done = 0; done < n;) {
            DWORD wrote = 0;
            if (!WriteFile(spill, buffer.get() + done, n - done, &wrote, nullptr) || wrote == 0) {
                throw support::EFOpenError(support::StandardInputErrorMessage(
                    "spill", "Writing to the temporary folder \"" + shown + "\": " + support::SystemErrorText(GetLastError())));
            }
            done += wrote;
        }
    }
    support::ReadStandardInputFrom(support::NativeFile::Adopt(owned.release()));
}


bool IsPipe(int fd) noexcept { return GetFileType(StreamHandle(fd)) == FILE_TYPE_PIPE; }

// As PIPE_BUF on Linux: an anonymous pipe's buffer holds it whole.
std::size_t AtomicPipeWrite() noexcept { return 4096; }

bool IsTerminal(int fd) noexcept {
    DWORD mode = 0;
    return GetConsoleMode(StreamHandle(fd), &mode) != 0;
}

std::size_t WriteSome(int fd, const char* data, std::size_t size) {
    // WriteFile takes a 32-bit count.
    const auto count = static_cast<DWORD>(size < (std::size_t{1} << 30) ? size : std::size_t{1} << 30);
    DWORD written = 0;
    if (!WriteFile(StreamHandle(fd), data, count, &written, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED) {
            // There is no SIGPIPE: the reader is gone, so end as quietly.
            RestoreConsole();
            TerminateProcess(GetCurrentProcess(), 2);
        }
        SetLastError(code);
        throw SystemError(support::LastSystemErrorText());
    }
    return written;
}

void ReadListFile(const std::string& path, const std::function<void(std::string_view)>& take) {
    Handle opened;
    HANDLE list = StreamHandle(kStdin);
    if (path != "-") {
        // A folder does not open without backup semantics: it is refused here.
        HANDLE handle = CreateFileW(support::WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) throw SystemError(support::LastSystemErrorText());
        opened.reset(handle);
        list = handle;
    }
    if (list == INVALID_HANDLE_VALUE || list == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        throw SystemError(support::LastSystemErrorText());
    }
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(list, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) return;  // the writer closed the pipe: the end
            throw SystemError(support::LastSystemErrorText());
        }
        if (n == 0) return;
        take(std::string_view(buffer.data(), n));
    }
}

std::optional<FileStatus> StatusOf(const std::string& path, bool follow, std::string* reason) {
    const Handle handle = OpenForQuery(path, follow);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !GetFileInformationByHandle(handle.get(), &info)) {
        if (reason != nullptr) *reason = support::LastSystemErrorText();
        return std::nullopt;
    }
    FileStatus status;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status.Kind = FileKind::Other;  // a link or junction not followed
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.Kind = FileKind::Directory;
    } else {
        status.Kind = GetFileType(handle.get()) == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
    }
    status.Id = {info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
    status.Size = static_cast<std::int64_t>(std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    return status;
}

std::vector<std::string> FolderNames(const std::string& path) {
    const bool separated = !path.empty() && (path.back() == '\\' || path.back() == '/');
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(support::WideFromUtf8(path + (separated ? "*" : "\\*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
        throw SystemError(support::LastSystemErrorText());
    }
    const std::unique_ptr<void, decltype(&FindClose)> closer(search, FindClose);
    std::vector<std::string> names;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(support::Utf8FromWide(name));
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) throw SystemError(support::LastSystemErrorText());
    return names;
}

std::vector<std::string> ExpandArgument(const std::string& argument) {
    const std::size_t folderEnd = argument.find_last_of("\\/:") + 1;  // 0 when there is no folder part
    const bool wild = argument.find_first_of("*?", folderEnd) != std::string::npos;
    if (!wild || StatusOf(argument, false)) return {argument};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(support::WideFromUtf8(argument).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return {argument};
    const std::unique_ptr<void, decltype(&FindClose)> closer(search, FindClose);
    std::vector<std::string> names;
    do {
        const std::string name = support::Utf8FromWide(found.cFileName);
        if (name != "." && name != "..") names.push_back(argument.substr(0, folderEnd) + name);
    } while (FindNextFileW(search, &found));
    std::sort(names.begin(), names.end());
    if (names.empty()) names.push_back(argument);
    return names;
}

}  // namespace vexmira::cli::platform
