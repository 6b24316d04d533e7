#include "cli/output.hpp"

#include <algorithm>
#include <iterator>

#include "cli/platform.hpp"
#include "cli/text.hpp"

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
        const char* const window = data + start;
        // Just past the last line break in the window; the window's start when there is none.
        const char* const pastBreak =
            std::find(std::make_reverse_iterator(window + chunk_), std::make_reverse_iterator(window), '\n').base();
        if (pastBreak != window) {
            end = static_cast<std::size_t>(pastBreak - data);
        } else {
            // A line longer than a write: it goes out in pieces up to its end,
            // or all that is held of it so far.
            const char* const held = data + buffer_.size();
            const char* const lineBreak = std::find(window, held, '\n');
            end = lineBreak == held ? buffer_.size() : static_cast<std::size_t>(lineBreak - data) + 1;
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
        AppendTerminalLine(text, line);
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
