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

protected:
    Exception(ErrorKind kind, std::string message, std::string detail)
        : message_(std::move(message)), detail_(std::move(detail)), kind_(kind) {}

private:
    std::string message_;
    std::string detail_;
    ErrorKind kind_ = ErrorKind::Other;
};

// The file stream's errors.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(std::string message) : Exception(ErrorKind::Open, std::move(message)) {}
};

class EFCreateError : public Exception {
public:
    explicit EFCreateError(std::string message) : Exception(ErrorKind::Create, std::move(message)) {}
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
