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

    // Regular files found in a walk and passed over for their names, which
    // are this tool's outputs' (named ones are always examined): how many,
    // and the first.
    std::uint64_t SkippedOutputs() const noexcept { return skipped_outputs_; }
    const std::string& FirstSkippedOutput() const noexcept { return first_skipped_output_; }

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
    std::uint64_t skipped_outputs_ = 0;
    std::string first_skipped_output_;
};

}  // namespace vexmira::cli
