#include "cli/output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace vexmira::cli {

std::size_t WriteChunkFor(int fd) {
    struct stat info {};
    if (fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) return PIPE_BUF;
    return LineOutput::kFileChunk;
}

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw OutputError(n < 0 ? std::strerror(errno) : "nothing was written");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

LineOutput::LineOutput(int fd, int errFd) : fd_(fd), err_fd_(errFd), chunk_(WriteChunkFor(fd)) {
    buffer_.reserve(chunk_ * 2);
}

LineOutput::LineOutput(std::size_t chunk) : chunk_(chunk) { buffer_.reserve(chunk_ * 2); }

void LineOutput::Send(const char* data, std::size_t size) { WriteAll(fd_, data, size); }

void LineOutput::SendError(std::string_view line) { WriteErrorLine(line.substr(0, line.size() - 1), err_fd_); }

void LineOutput::Drain() {
    std::size_t start = 0;
    while (buffer_.size() - start >= chunk_) {
        // The most whole lines that fit in one write.
        const char* const data = buffer_.data();
        std::size_t end;
        if (const void* newline = memrchr(data + start, '\n', chunk_)) {
            end = static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1;
        } else {
            // A line longer than a write: it goes out in pieces up to its end,
            // or all that is held of it so far.
            const void* next = std::memchr(data + start, '\n', buffer_.size() - start);
            end = next == nullptr ? buffer_.size() : static_cast<std::size_t>(static_cast<const char*>(next) - data) + 1;
        }
        Send(buffer_.data() + start, end - start);
        start = end;
    }
    buffer_.erase(0, start);
}

void LineOutput::Flush() {
    Drain();
    if (!buffer_.empty()) Send(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void LineOutput::ErrorLine(std::string_view line) {
    Flush();
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text += '\n';
    SendError(text);
}

void WriteErrorLine(std::string_view line, int fd) noexcept {
    std::string text;
    try {
        text.reserve(line.size() + 1);
        text.append(line);
        text += '\n';
    } catch (...) {
        return;
    }
    const char* data = text.data();
    std::size_t size = text.size();
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace vexmira::cli
