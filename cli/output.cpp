#include "cli/output.hpp"

#include <string>

#include "cli/platform.hpp"
#include "report/text.hpp"

namespace vexmira::cli {

std::size_t WriteChunkFor(int fd) {
    return platform::IsPipe(fd) ? platform::AtomicPipeWrite() : LineOutput::kFileChunk;
}

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        std::size_t n = 0;
        try {
            n = platform::WriteSome(fd, data, size);
        } catch (const platform::SystemError& e) {
            throw OutputError(e.what());
        }
        if (n == 0) throw OutputError("nothing was written");
        data += n;
        size -= n;
    }
}

FdOutput::FdOutput(int fd, int errFd) : LineOutput(WriteChunkFor(fd)), fd_(fd), err_fd_(errFd) {}

void FdOutput::Send(const char* data, std::size_t size) { WriteAll(fd_, data, size); }

void FdOutput::SendError(std::string_view line) { WriteErrorLine(line.substr(0, line.size() - 1), err_fd_); }

void WriteErrorLine(std::string_view line, int fd) noexcept {
    std::string text;
    try {
        text.reserve(line.size() + 1);
        report::AppendTerminalLine(text, line);
        text += '\n';
    } catch (...) {
        return;
    }
    try {
        WriteAll(fd, text.data(), text.size());
    } catch (...) {
        // Nowhere left to say so.
    }
}

}  // namespace vexmira::cli
