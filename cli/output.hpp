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

// The size of one write to `fd`, as above.
std::size_t WriteChunkFor(int fd);

// Writes all of `data` to `fd`, retrying short writes; raises OutputError.
void WriteAll(int fd, const char* data, std::size_t size);

class LineOutput {
public:
    static constexpr std::size_t kFileChunk = std::size_t{64} * 1024;

    // Lines to `fd`; error lines to `errFd`.
    explicit LineOutput(int fd, int errFd = 2);
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
    // terminal shows both in order.
    void ErrorLine(std::string_view line);

    std::size_t Chunk() const noexcept { return chunk_; }

protected:
    explicit LineOutput(std::size_t chunk);
    // One write of whole lines (or a piece of one longer line).
    virtual void Send(const char* data, std::size_t size);
    // One error line, its line break included; failures are ignored.
    virtual void SendError(std::string_view line);

private:
    void Drain();

    int fd_ = -1;
    int err_fd_ = 2;
    std::size_t chunk_;
    std::string buffer_;
};

// One line to standard error (or `fd`) in one write; a failure there has
// nowhere to be reported and is ignored. Every line the tool says there
// passes through here and AppendTerminalLine, so no message, whatever it
// quotes, sends a control character to a terminal.
void WriteErrorLine(std::string_view line, int fd = 2) noexcept;

}  // namespace vexmira::cli
