#pragma once
// The tool's platform edge: standard streams, the process's set-up, and the
// few file-system questions a walk asks. One implementation for POSIX, one
// for Win32; what to do with the answers is decided in the portable files.
// Paths are UTF-8 on Windows (the file layer is switched to UTF-8 paths at
// start), bytes on POSIX.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/file_system.hpp"

namespace vexmira::cli::platform {

// The descriptors of the standard streams, as the C runtime numbers them.
constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kStderr = 2;

// A system call that failed; the message is the system's reason.
class SystemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sets up the process for the tool and undoes what outlives it on
// destruction: on POSIX a closed pipe ends the process quietly, and a signal
// that ends it removes the files it was still writing; on Windows
// the standard streams pass bytes unchanged, a console shows UTF-8 and
// understands the progress line's escapes, and file paths are UTF-8.
class Process {
public:
    Process();
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

private:
    [[maybe_unused]] unsigned saved_code_page_ = 0;  // 0: the console's code page was left alone
};

// From now on, the FILE "-" (support::kStandardInputName) reads standard
// input: standard input itself when it is a regular file (read whole, from its
// start), else what it holds, copied in bounded steps to an unnamed temporary
// file in $TMPDIR (or /tmp; on Windows the user's temporary folder) that
// vanishes with the process. Raises EFOpenError naming standard input with the
// reason.
void OpenStandardInput();

// True when `fd` is a pipe or socket: writes up to AtomicPipeWrite() bytes
// into it never tear.
bool IsPipe(int fd) noexcept;
std::size_t AtomicPipeWrite() noexcept;

// True when `fd` is a terminal (on Windows, a console).
bool IsTerminal(int fd) noexcept;

// Writes some of `data` to `fd` (interrupted calls are retried) and returns
// how much; raises SystemError. A pipe whose reader is gone ends the process
// quietly, as a closed pipe does other tools.
std::size_t WriteSome(int fd, const char* data, std::size_t size);

// Reads the file list named by the user ("-": standard input) to its end,
// handing over its bytes piece by piece; raises SystemError with the reason
// (a folder, a file that cannot be opened or read, a closed standard input).
void ReadListFile(const std::string& path, const std::function<void(std::string_view)>& take);

// A command-line argument as the tool takes it. On Windows, where no shell
// expands them, '*' and '?' in the last part of an argument that names no
// existing file are expanded to the matching names, in byte order (none
// match: the argument stays as given). Elsewhere the shell has done that.
std::vector<std::string> ExpandArgument(const std::string& argument);

// Names one file for "reached twice".
using FileId = support::FileId;

enum class FileKind {
    Regular,
    Directory,
    Other,  // a device, a pipe, or a link that was not followed
};

struct FileStatus {
    FileKind Kind = FileKind::Other;
    FileId Id;
    std::int64_t Size = 0;
};

// What `path` names, through a final link only with `follow`; none when it
// cannot be reached, and then the system's reason in *reason when given.
std::optional<FileStatus> StatusOf(const std::string& path, bool follow, std::string* reason = nullptr);

// The names in folder `path`, without "." and "..", in no particular order;
// raises SystemError.
std::vector<std::string> FolderNames(const std::string& path);

}  // namespace vexmira::cli::platform
