#pragma once
// One real file per fuzzing process: a memfd, so that no input waits on a
// disk, while every read still goes through the file layer (opened by its
// /proc/self/fd name, checked, locked, read with pread). Each input refills it.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace vexmira::fuzz {

// A fuzz run that cannot make or fill its file tests nothing.
[[noreturn]] inline void ScratchFailure(const char* what) {
    std::perror(what);
    std::abort();
}

class ScratchFile {
public:
    static ScratchFile& Get() {
        static ScratchFile file;
        return file;
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // The name to open it by.
    const std::string& Path() const noexcept { return path_; }

    // A descriptor of its own on the file, for a stream that writes it
    // (emptied first, as a created file is).
    int NewEmptyDescriptor() const {
        if (::ftruncate(fd_, 0) != 0) ScratchFailure("ftruncate scratch file");
        const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) ScratchFailure("dup scratch file");
        return fd;
    }

    // The file's whole content becomes `bytes`.
    void Fill(std::span<const std::uint8_t> bytes) const {
        if (::ftruncate(fd_, static_cast<off_t>(bytes.size())) != 0) ScratchFailure("ftruncate scratch file");
        WriteAll(fd_, bytes, 0);
    }

    // Appends through a descriptor opened by name, as another program
    // writing to a file being read would.
    void Grow(std::span<const std::uint8_t> bytes) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) ScratchFailure("open scratch file");
        WriteAll(fd, bytes, -1);
        ::close(fd);
    }

private:
    ScratchFile() : fd_(::memfd_create("vexmira-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) ScratchFailure("memfd_create");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~ScratchFile() { ::close(fd_); }

    // At `offset`, or (-1) where the descriptor's own offset says.
    static void WriteAll(int fd, std::span<const std::uint8_t> bytes, off_t offset) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = offset < 0 ? ::write(fd, bytes.data() + done, bytes.size() - done)
                                         : ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                                    offset + static_cast<off_t>(done));
            if (n <= 0) ScratchFailure("write scratch file");
            done += static_cast<std::size_t>(n);
        }
    }

    int fd_;
    std::string path_;
};

}  // namespace vexmira::fuzz
