#pragma once
// Every error in the system is an Exception carrying a message; handlers select by class.

#include <exception>
#include <string>
#include <string_view>

namespace vexmira::support {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The file stream's errors.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

class EWriteError : public Exception {
public:
    EWriteError() : Exception("Stream write error") {}
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
