#pragma once
// An in-memory file for a fuzz target's reports to write to, read back whole.

#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace vexmira::fuzz {

class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("report", 0)) {
        if (fd_ < 0) __builtin_trap();
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int Fd() const { return fd_; }
    std::string Contents() const {
        std::string text;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t n = pread(fd_, buffer, sizeof buffer, at);
            if (n <= 0) return text;
            text.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }

private:
    int fd_;
};

}  // namespace vexmira::fuzz
