#pragma once
// One real file per fuzzing process, in a private directory made for it and
// removed when the process exits normally. Each input rewrites the file.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace vexmira::fuzz
