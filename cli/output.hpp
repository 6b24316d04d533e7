#pragma once
// Standard output written in whole lines.
//
// Every write ends on a line boundary and carries as many whole lines as fit
// in one write: at most PIPE_BUF bytes into a pipe or socket, so that a line
// of up to PIPE_BUF bytes never tears when parallel runs share the pipe, and
// at most kFileChunk bytes elsewhere, so that a line up to that size never
// tears in a file opened with O_APPEND. Only a longer line is written in
// pieces.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vexmira::cli {

// A write that failed; the message says why ("No space left on device").
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LineOutput {
public:
    static constexpr std::size_t kFileChunk = std::size_t{64} * 1024;

    explicit LineOutput(int fd);
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

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
    // Writes everything held, a partial last line included.
    void Flush();

    std::size_t Chunk() const noexcept { return chunk_; }

private:
    void Drain();
    void WriteAll(const char* data, std::size_t size);

    int fd_;
    std::size_t chunk_;
    std::string buffer_;
};

// One line to standard error (or `fd`) in one write; a failure there has
// nowhere to be reported and is ignored.
void WriteErrorLine(std::string_view line, int fd = 2) noexcept;

}  // namespace vexmira::cli
