#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/file_system.hpp"

namespace vexmira::support {
namespace {

std::string FileErrorMessage(std::string_view prefix, const std::string& path, std::string_view reason) {
    std::string message(prefix);
    message += '"';
    message += AbsolutePath(path);
    message += "\". ";
    message += reason;
    return message;
}

}  // namespace

int ErrnoOfSystemError(std::uint32_t code) noexcept {
    switch (code) {
        case 2:    // ERROR_FILE_NOT_FOUND
        case 3:    // ERROR_PATH_NOT_FOUND
        case 15:   // ERROR_INVALID_DRIVE
        case 53:   // ERROR_BAD_NETPATH
        case 67:   // ERROR_BAD_NET_NAME
        case 123:  // ERROR_INVALID_NAME
        case 161:  // ERROR_BAD_PATHNAME
        case 206:  // ERROR_FILENAME_EXCED_RANGE
            return ENOENT;
        case 5:     // ERROR_ACCESS_DENIED
        case 19:    // ERROR_WRITE_PROTECT
        case 32:    // ERROR_SHARING_VIOLATION
        case 33:    // ERROR_LOCK_VIOLATION
        case 1920:  // ERROR_CANT_ACCESS_FILE
            return EACCES;
        case 80:   // ERROR_FILE_EXISTS
        case 183:  // ERROR_ALREADY_EXISTS
            return EEXIST;
        case 4:  // ERROR_TOO_MANY_OPEN_FILES
            return EMFILE;
        case 6:  // ERROR_INVALID_HANDLE
            return EBADF;
        case 8:   // ERROR_NOT_ENOUGH_MEMORY
        case 14:  // ERROR_OUTOFMEMORY
            return ENOMEM;
        case 39:   // ERROR_HANDLE_DISK_FULL
        case 112:  // ERROR_DISK_FULL
            return ENOSPC;
        case 87:  // ERROR_INVALID_PARAMETER
            return EINVAL;
        case 267:  // ERROR_DIRECTORY: a folder name was expected
            return ENOTDIR;
        default:
            return 0;
    }
}

std::string TrimSystemMessage(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

std::string OpenErrorMessage(const std::string& path, std::string_view reason) {
    return FileErrorMessage("Cannot open file ", path, reason);
}

std::string CreateErrorMessage(const std::string& path, std::string_view reason) {
    return FileErrorMessage("Cannot create file ", path, reason);
}

std::string StandardInputErrorMessage(std::string_view what, std::string_view reason) {
    return "Cannot " + std::string(what) + " standard input (\"" + std::string(kStandardInputName) + "\"). " +
           std::string(reason);
}

}  // namespace vexmira::support
