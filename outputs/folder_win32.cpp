// Folders held open on Windows. Win32 resolves names by path only, so the
// chain is pinned instead: each folder stays open without delete sharing,
// and cannot be renamed, removed or replaced by a link while it is held. The
// named folder is reached through the path its handle really has (a link the
// user named resolved once), and before a file is put in place the folder
// that path leads to is checked to be the one held.

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "outputs/folder.hpp"
#include "support/exception.hpp"

namespace vexmira::outputs {
namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw support::EFCreateError(support::CreateErrorMessage(path, reason));
}

// With the system's code as an errno, for callers that hand the error on by its kind (Python's OSError).
[[noreturn]] void FailWithSystemText(const std::string& path, DWORD code) {
    std::string reason = support::SystemErrorText(code);
    std::string message = support::CreateErrorMessage(path, reason);
    throw support::EFCreateError(std::move(message),
                                 support::SystemCause{support::ErrnoOfSystemError(code), path, std::move(reason)});
}

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
    return folder + "\\" + name;
}

// The path as the system's wide calls take it: UTF-8 in the tool, the ANSI
// code page where the layer was left in it.
std::wstring WidePath(const std::string& path) {
    if (support::Utf8Paths()) return support::WideFromUtf8(path);
    const int size = static_cast<int>(path.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), size, wide.data(), needed);
    return wide;
}

std::string NarrowPath(const std::wstring& path) {
    if (support::Utf8Paths()) return support::Utf8FromWide(path);
    const int size = static_cast<int>(path.size());
    const int needed = WideCharToMultiByte(CP_ACP, 0, path.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.data(), size, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

HANDLE OpenFolderPinned(const std::string& path, bool follow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, flags);
}

bool MarkForDeletion(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

std::optional<support::FileId> IdOfHandle(HANDLE handle) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return support::FileId{info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

// Renames the open `file` to `target`, never over an existing name; the
// system's error code, or 0.
DWORD RenameTo(HANDLE file, const std::string& target) {
    const std::wstring wide = WidePath(target);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + wide.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, wide.data(), wide.size() * sizeof(wchar_t));
    if (SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) return 0;
    return GetLastError();
}

bool Exists(DWORD code) noexcept { return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS; }

// What holds `full` now, opened so that no one else can open, rename or
// remove it while it is held, and checked to be a file that may be replaced;
// none when nothing is there.
support::NativeFile OpenStale(const std::string& full, const std::string& path) {
    HANDLE handle = OpenPath(full, DELETE | FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return {};
        FailWithSystemText(path, code);
    }
    support::NativeFile stale = support::NativeFile::Adopt(handle);
    support::CheckReplaceable(handle, path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) FailWithSystemText(path, GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) FailWithSystemText(path, ERROR_DIRECTORY);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) Fail(path, "The file is read-only");
    return stale;
}

}  // namespace

Folder::Folder(Folder&& other) noexcept : path_(std::move(other.path_)), held_(std::exchange(other.held_, {})) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        for (void* handle : held_) CloseHandle(AsHandle(handle));
        path_ = std::move(other.path_);
        held_ = std::exchange(other.held_, {});
    }
    return *this;
}

Folder::~Folder() {
    for (void* handle : held_) CloseHandle(AsHandle(handle));
}

bool Folder::IsOpen() const noexcept { return !held_.empty(); }

std::optional<support::FileId> Folder::Id() const noexcept {
    if (held_.empty()) return std::nullopt;
    return IdOfHandle(AsHandle(held_.back()));
}

Folder Folder::Open(const std::string& path, const std::string& file) {
    Folder folder;
    HANDLE handle = OpenFolderPinned(path, true);
    if (handle == INVALID_HANDLE_VALUE) {
        Fail(file, "The folder cannot be opened: " + support::SystemErrorText(GetLastError()));
    }
    folder.held_.push_back(handle);
    // Names below are resolved through where the folder is, not through a
    // link on the way to it that may lead elsewhere by then.
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (length >= final.size()) {
        final.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    }
    if (length == 0 || length >= final.size()) {
        Fail(file, "The folder cannot be opened: " + support::SystemErrorText(GetLastError()));
    }
    final.resize(length);
    folder.path_ = NarrowPath(final);
    return folder;
}

Folder Folder::Below(const std::vector<std::string>& parts, const std::string& file) const {
    Folder folder;
    folder.path_ = path_;
    for (void* held : held_) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), AsHandle(held), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            FailWithSystemText(file, GetLastError());
        }
        folder.held_.push_back(copy);
    }
    for (const std::string& part : parts) {
        folder.path_ = Joined(folder.path_, part);
        if (!CreateDirectoryW(WidePath(folder.path_).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            FailWithSystemText(file, GetLastError());
        }
        HANDLE handle = OpenFolderPinned(folder.path_, false);
        if (handle == INVALID_HANDLE_VALUE) FailWithSystemText(file, GetLastError());
        folder.held_.push_back(handle);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info)) FailWithSystemText(file, GetLastError());
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            Fail(file, "A folder on the way is a symbolic link, a junction or a file");
        }
    }
    return folder;
}

std::optional<support::NativeFile> Folder::CreateNew(const std::string& name, const std::string& path) const {
    // CREATE_NEW fails on any existing name, a link included. DELETE access,
    // to be removed when closed uncommitted and to be renamed into place.
    HANDLE handle = OpenPath(Joined(path_, name), GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (Exists(code)) return std::nullopt;
        FailWithSystemText(path, code);
    }
    support::NativeFile file = support::NativeFile::Adopt(handle);
    if (!MarkForDeletion(handle, true)) FailWithSystemText(path, GetLastError());
    return file;
}

void Folder::Commit(support::NativeFile& file, const std::string& from, const std::string& to, Existing existing,
                    const std::string& path, const std::string& existsReason) const {
    HANDLE handle = AsHandle(file.Handle());
    try {
        // The folder the path leads to must be the one held: the file goes nowhere else.
        HANDLE opened = OpenFolderPinned(path_, false);
        if (opened == INVALID_HANDLE_VALUE) Fail(path, "The folder is no longer where its path leads");
        const support::NativeFile there = support::NativeFile::Adopt(opened);
        const std::optional<support::FileId> held = Id();
        if (!held || IdOfHandle(opened) != held) Fail(path, "The folder is no longer where its path leads");
        const std::string target = Joined(path_, to);
        for (int attempt = 0; attempt < 16; ++attempt) {
            support::NativeFile stale;
            if (existing == Existing::ReplaceStale) stale = OpenStale(target, path);
            const std::string aside = Joined(path_, from + "-replaced");
            if (stale.IsOpen()) {
                // The file checked is the one moved aside: held, it cannot change meanwhile.
                if (const DWORD code = RenameTo(AsHandle(stale.Handle()), aside)) FailWithSystemText(path, code);
            }
            if (!MarkForDeletion(handle, false)) FailWithSystemText(path, GetLastError());
            const DWORD code = RenameTo(handle, target);
            if (code == 0) {
                if (stale.IsOpen()) MarkForDeletion(AsHandle(stale.Handle()), true);  // gone as it closes
                return;
            }
            MarkForDeletion(handle, true);
            if (stale.IsOpen()) {
                // Back under its name, whatever took it meanwhile aside.
                if (RenameTo(AsHandle(stale.Handle()), target) != 0) {
                    Fail(path, support::SystemErrorText(code) + "; what was there is now \"" + aside + "\"");
                }
            }
            if (!Exists(code)) FailWithSystemText(path, code);
            if (existing == Existing::Keep) Fail(path, existsReason);
        }
        Fail(path, "The name kept changing while the file was put in place");
    } catch (...) {
        // Removed before the error is said, so that its room is free again.
        MarkForDeletion(handle, true);
        file.Close();
        throw;
    }
}

void Folder::Remove(const std::string& name) const noexcept { DeleteFileW(WidePath(Joined(path_, name)).c_str()); }

std::optional<support::FileId> Folder::IdOf(const std::string& name) const noexcept {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = OpenPath(Joined(path_, name), FILE_READ_ATTRIBUTES, share, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const support::NativeFile file = support::NativeFile::Adopt(handle);
    return file.Id();
}

int Folder::RememberForSignals(const std::string&) const noexcept { return -1; }

void Folder::ForgetForSignals(int) noexcept {}

}  // namespace vexmira::outputs
