#pragma once
// Every error in the system is an Exception carrying a message; handlers select by class.

#include <exception>
#include <string>
#include <string_view>

namespace vexmira::support {

// What the file system said about a file: errno's value (0 when the reason
// is this system's own, such as "Not a regular file"), the path it concerns
// and its words. Kept beside the message for callers that hand errors on by
// the system's codes (the Python module's OSError).
struct SystemCause {
    int Code = 0;
    std::string Path;
    std::string Reason;
};

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    // What the dialog shows.
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The message with whatever the system knows beyond it (which file, the
    // operating system's reason), for reports that are not bound to the
    // dialog's texts.
    std::string FullMessage() const { return detail_.empty() ? message_ : message_ + " " + detail_; }
    // Empty Path: the error names no file of the system's.
    const SystemCause& Cause() const noexcept { return cause_; }

protected:
    Exception(std::string message, std::string detail) : message_(std::move(message)), detail_(std::move(detail)) {}
    Exception(std::string message, SystemCause cause) : message_(std::move(message)), cause_(std::move(cause)) {}

private:
    std::string message_;
    std::string detail_;
    SystemCause cause_;
};

// The file stream's errors.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
    EFOpenError(std::string message, SystemCause cause) : Exception(std::move(message), std::move(cause)) {}
};

class EFCreateError : public Exception {
public:
    using Exception::Exception;
    EFCreateError(std::string message, SystemCause cause) : Exception(std::move(message), std::move(cause)) {}
};

// The message is always "Stream write error"; the detail names the file and
// the operating system's reason where the stream knows them.
class EWriteError : public Exception {
public:
    explicit EWriteError(std::string detail = {}) : Exception("Stream write error", std::move(detail)) {}
};

// Raised in place of std::bad_alloc wherever an allocation failure is caught,
// so the dialog and the command-line tool report it with one text.
inline constexpr std::string_view kOutOfMemoryMessage = "Out of memory";

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception(std::string(kOutOfMemoryMessage)) {}
};

// The text the error report box shows for a message: a full stop is appended
// when the message is not empty and its last byte sorts above '.' (0x2E), so
// messages already ending in '.', '!', ',' and the like are left alone.
std::string ErrorReportText(std::string_view message);

}  // namespace vexmira::support
