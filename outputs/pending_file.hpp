#pragma once
// A file written whole or not at all: made under a temporary name in its
// final folder (new, never through a link) and put in place under its own
// name by Commit only. Until then it is removed when this object goes, and
// when a signal the process catches ends it.

#include <optional>
#include <string>

#include "outputs/folder.hpp"
#include "support/file_stream.hpp"

namespace vexmira::outputs {

class PendingFile {
public:
    // `path` is the file's full name, for messages; `existing` says what
    // Commit does with a name that exists by then, and `existsReason` why it
    // refuses one it keeps. Raises EFCreateError.
    PendingFile(Folder folder, std::string name, std::string path, Existing existing,
                std::string existsReason = "The file exists");
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    support::FileStream& Stream() noexcept { return *stream_; }
    // Puts the file in place; the stream stays open on it. Raises
    // EFCreateError once the temporary file is gone.
    void Commit();
    // Removes the temporary file now rather than when this object goes.
    void Discard() noexcept;

    const Folder& Where() const noexcept { return folder_; }
    const std::string& Name() const noexcept { return name_; }
    const std::string& Path() const noexcept { return path_; }

private:
    Folder folder_;
    std::string name_;
    std::string path_;
    Existing existing_;
    std::string exists_reason_;
    std::string temporary_;
    std::optional<support::FileStream> stream_;
    int signal_slot_ = -1;
    bool settled_ = false;  // committed or discarded
};

}  // namespace vexmira::outputs
