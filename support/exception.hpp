#pragma once
// Every error in the system is an Exception carrying a message and what it is
// about as a value: handlers that must tell errors apart (a report, a
// binding) read Kind() instead of asking the class.

#include <exception>
#include <string>
#include <string_view>

namespace vexmira::support {

enum class ErrorKind {
    Other,
    Open,         // a file that cannot be opened, read or sought
    Create,       // a file that cannot be created or put in place
    Write,
    OutOfMemory,
    // A header the reader refuses, so what was read is not an archive: no
    // signature, another archive type, or an unknown compression method (whose
    // message quotes the header's identifier, bytes of the archive).
    InvalidHeader,
    ArchiveType,
    CompressionMethod,
};

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
    Exception(ErrorKind kind, std::string message) : message_(std::move(message)), kind_(kind) {}
    // What the dialog shows.
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The message with whatever the system knows beyond it (which file, the
    // operating system's reason), for reports that are not bound to the
    // dialog's texts.
    std::string FullMessage() const { return detail_.empty() ? message_ : message_ + " " + detail_; }
    ErrorKind Kind() const noexcept { return kind_; }
    // Empty Path: the error names no file of the system's.
    const SystemCause& Cause() const noexcept { return cause_; }

protected:
    Exception(ErrorKind kind, std::string message, std::string detail)
        : message_(std::move(message)), detail_(std::move(detail)), kind_(kind) {}
    Exception(ErrorKind kind, std::string message, SystemCause cause)
        : message_(std::move(message)), kind_(kind), cause_(std::move(cause)) {}

private:
    std::string message_;
    std::string detail_;
    ErrorKind kind_ = ErrorKind::Other;
    SystemCause cause_;
};

// The file stream's errors.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(std::string message) : Exception(ErrorKind::Open, std::move(message)) {}
    EFOpenError(std::string message, SystemCause cause) : Exception(ErrorKind::Open, std::move(message), std::move(cause)) {}
};

class EFCreateError : public Exception {
public:
    explicit EFCreateError(std::string message) : Exception(ErrorKind::Create, std::move(message)) {}
    EFCreateError(std::string message, SystemCause cause)
        : Exception(ErrorKind::Create, std::move(message), std::move(cause)) {}
};

// The message is always "Stream write error"; the detail names the file and
// the operating system's reason where the stream knows them.
class EWriteError : public Exception {
public:
    explicit EWriteError(std::string detail = {}) : Exception(ErrorKind::Write, "Stream write error", std::move(detail)) {}
};

// Raised in place of std::bad_alloc wherever an allocation failure is caught,
// so the dialog and the command-line tool report it with one text.
inline constexpr std::string_view kOutOfMemoryMessage = "Out of memory";

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception(ErrorKind::OutOfMemory, std::string(kOutOfMemoryMessage)) {}
};

// The text the error report box shows for a message: a full stop is appended
// when the message is not empty and its last byte sorts above '.' (0x2E), so
// messages already ending in '.', '!', ',' and the like are left alone.
std::string ErrorReportText(std::string_view message);

}  // namespace vexmira::support
