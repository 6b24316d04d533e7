#pragma once
// A report's output, kept in whole lines.
//
// Every write ends on a line boundary and carries as many whole lines as fit
// in one chunk: where the lines go (standard output, a string, the page)
// chooses the chunk so that a line never tears there. Only a line longer than
// a chunk is written in pieces.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vexmira::report {

// A write that failed; the message says why ("No space left on device").
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LineOutput {
public:
    static constexpr std::size_t kFileChunk = std::size_t{64} * 1024;

    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;
    virtual ~LineOutput() = default;

    // Text to write; sent once whole lines fill a write. Raises OutputError.
    std::string& Buffer() noexcept { return buffer_; }
    void Append(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= chunk_) Drain();
    }
    // Call after appending to Buffer() directly.
    void Commit() {
        if (buffer_.size() >= chunk_) Drain();
    }
    // Sends everything held, a partial last line included.
    void Flush();
    // One line for the error stream, after everything held so far, so that a
    // reader of both sees them in order.
    void ErrorLine(std::string_view line);

    std::size_t Chunk() const noexcept { return chunk_; }

protected:
    explicit LineOutput(std::size_t chunk);
    // One write of whole lines (or a piece of one longer line).
    virtual void Send(const char* data, std::size_t size) = 0;
    // One error line, its line break included; failures are ignored.
    virtual void SendError(std::string_view line) = 0;

private:
    void Drain();

    std::size_t chunk_;
    std::string buffer_;
};

}  // namespace vexmira::report
