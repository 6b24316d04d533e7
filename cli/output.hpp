#pragma once
// Standard output written in whole lines: at most PIPE_BUF bytes a write into
// a pipe or socket, so that a line of up to PIPE_BUF bytes never tears when
// parallel runs share the pipe, and at most LineOutput::kFileChunk bytes
// elsewhere, so that a line up to that size never tears in a file opened with
// O_APPEND.

#include <cstddef>
#include <string_view>

#include "report/output.hpp"

namespace vexmira::cli {

using report::LineOutput;
using report::OutputError;

// The size of one write to `fd`, as above.
std::size_t WriteChunkFor(int fd);

// Writes all of `data` to `fd`, retrying short writes; raises OutputError.
void WriteAll(int fd, const char* data, std::size_t size);

// Lines to a descriptor; error lines to another.
class FdOutput final : public LineOutput {
public:
    explicit FdOutput(int fd, int errFd = 2);

protected:
    void Send(const char* data, std::size_t size) override;
    void SendError(std::string_view line) override;

private:
    int fd_;
    int err_fd_;
};

// One line to standard error (or `fd`) in one write; a failure there has
// nowhere to be reported and is ignored. Every line the tool says there
// passes through here and AppendTerminalLine, so no message, whatever it
// quotes, sends a control character to a terminal.
void WriteErrorLine(std::string_view line, int fd = 2) noexcept;

}  // namespace vexmira::cli
