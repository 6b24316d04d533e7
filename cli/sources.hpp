#pragma once
// The files a run examines, in the order their output appears: the names
// given (on the command line or in a list file), and with recursion the
// regular files below each folder among them, in byte order of their names.

#include <cstdint>
#include <string_view>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/platform.hpp"
#include "support/file_system.hpp"

namespace vexmira::cli {

struct SourceOptions {
    bool Recursive = false;    // walk folders; without it a folder is an error
    bool FollowLinks = false;  // follow symbolic links found in a walk (loops are detected, not walked)
    std::optional<std::string> OutputDir;  // never walked into
};

// One thing to examine, or one that cannot be (a name with a NUL byte in it,
// a folder without recursion, a folder that would loop, one that cannot be read).
struct SourceItem {
    std::string Path;
    std::int64_t Size = 0;             // bytes, where known; for progress only
    std::optional<std::string> Error;  // set: nothing to examine, only this to report
};

// Yields items one by one, so that a tree of millions of files is never held
// in memory; only the names of the folders being walked are. A file reached
// twice (named twice, or through a link) is yielded once.
class FileSource {
public:
    explicit FileSource(SourceOptions options);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Names given by the user, examined whatever they are called.
    void AddName(std::string path);
    // Names read from a list, one a line, or each ending in NUL with `nul`,
    // handed over piece by piece; EndList when the list is over.
    void AddListText(std::string_view text, bool nul);
    void EndList(bool nul);

    std::optional<SourceItem> Next();

    // How many items there will be, once that is known (all names are in and
    // no folder is being walked); none before.
    std::optional<std::uint64_t> KnownTotal() const;

private:
    struct Folder;  // a folder being walked: its sorted names and where we are
    using FileId = platform::FileId;

    std::optional<SourceItem> Visit(const std::string& path, bool named);
    void EndListName(bool nul);
    bool FirstVisit(const FileId& id) { return seen_.insert(id).second; }

    SourceOptions options_;
    std::vector<std::string> names_;
    std::size_t next_name_ = 0;
    std::vector<std::unique_ptr<Folder>> walk_;
    std::set<FileId> seen_;
    std::optional<FileId> output_dir_;
    std::string partial_name_;  // a list's name not yet ended
    std::uint64_t yielded_ = 0;
};

// How paths are written: on Windows both '/' and '\\' separate, and ':' (a
// drive, or a stream after a name) is no part of a name.
enum class PathStyle { Posix, Windows };
#ifdef _WIN32
constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// The side file of `input` below `outputDir`: the input's path as it was given
// (relative paths as they are, absolute ones below the folder; ".." parts
// that would climb out of it are written "%2E%2E", and in the Windows style
// ':' is written "%3A", so "C:\\x" goes to "DIR\\C%3A\\x"), followed by `suffix`.
// '%' itself is written "%25", so two paths never meet through an escape.
// Standard input ("-") has no path: its outputs are named as if it were this.
inline constexpr std::string_view kStandardInputOutputName = "stdin";
std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix,
                          PathStyle style = kNativePathStyle);

// Where an output of `input` goes: below `outputDir` as OutputPathFor has
// it, or without one next to the input (its path as given, then `suffix`).
struct OutputPlace {
    support::NativeFolder Folder;  // made when missing, never through a link, and held open
    std::string Name;              // the file's name in Folder
    std::string Path;              // the whole path, for messages
};
// Raises support::EFCreateError naming the path and the reason.
OutputPlace PlaceOutput(const std::optional<std::string>& outputDir, const std::string& input, const std::string& suffix);

// Creates the output folder and its missing parents, each below the last
// without following a link. Raises support::EFCreateError with the reason.
void MakeOutputFolder(const std::string& outputDir);

}  // namespace vexmira::cli
