#pragma once
// Where a run's outputs go: below the named output folder, the input's path
// as it was given, or without one next to the input.

#include <string>
#include <string_view>
#include <vector>

namespace vexmira::outputs {

// How paths are written: on Windows both '/' and '\\' separate, and ':' (a
// drive, or a stream after a name) is no part of a name.
enum class PathStyle { Posix, Windows };
#ifdef _WIN32
constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// Standard input ("-") has no path: its outputs are named as if it were this.
inline constexpr std::string_view kStandardInputOutputName = "stdin";

// The parts of the path below the output folder for `input`'s output
// `suffix`, the file's name last: the input's path as it was given (relative
// paths as they are, absolute ones below the folder; ".." parts that would
// climb out of it are written "%2E%2E", and in the Windows style ':' is
// written "%3A", so "C:\\x" goes to "C%3A\\x"). '%' itself is written "%25",
// so two paths never meet through an escape.
std::vector<std::string> OutputParts(const std::string& input, const std::string& suffix,
                                     PathStyle style = kNativePathStyle);

// OutputParts joined below `outputDir`, for messages.
std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix,
                          PathStyle style = kNativePathStyle);

// `name` below `folder`, with a separator between them unless one is there.
std::string Joined(const std::string& folder, const std::string& name, PathStyle style = kNativePathStyle);

// The folder of `path` as it is given ("." for a bare name; on Windows "C:"
// for "C:x.exe", the drive's current folder) and the name in it.
struct FolderAndName {
    std::string Folder;
    std::string Name;
};
FolderAndName SplitPath(const std::string& path, PathStyle style = kNativePathStyle);

// Creates the output folder and its missing parents, each below the last
// without following a link. Raises support::EFCreateError with the reason.
void MakeOutputFolder(const std::string& outputDir);

}  // namespace vexmira::outputs
