#include "report/output.hpp"

#include <algorithm>
#include <iterator>

namespace vexmira::report {

LineOutput::LineOutput(std::size_t chunk) : chunk_(chunk) { buffer_.reserve(chunk_ * 2); }

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

}  // namespace vexmira::report
