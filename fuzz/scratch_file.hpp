#pragma once
// One real file per fuzzing process, in a private directory made for it and
// removed when the process exits normally. Each input rewrites the file.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace vexmira::fuzz {

class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexmira-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();  // a fuzz run that cannot make its file tests nothing
        }
        directory_ = name.data();
        file_ = directory_ + "/input";
    }
    ~ScratchDirectory() {
        ::unlink(file_.c_str());
        ::rmdir(directory_.c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& File() const noexcept { return file_; }

private:
    std::string directory_;
    std::string file_;
};

// The path of this process's scratch file.
inline const std::string& ScratchFile() {
    static const ScratchDirectory directory;
    return directory.File();
}

// Appends to the scratch file through a descriptor of its own, as another
// program writing to a file being read would.
inline void GrowScratchFile(std::span<const std::uint8_t> bytes) {
    const int fd = ::open(ScratchFile().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open scratch file");
        std::abort();
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            std::perror("append to scratch file");
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace vexmira::fuzz
