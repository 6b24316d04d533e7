#pragma once
// The one writer of every file the tools make (side files, carves): each is
// written under a temporary name in its final folder and put in place whole
// by a rename that replaces nothing it should not, below a named output
// folder held open from the start of the run.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "outputs/folder.hpp"
#include "outputs/ledger.hpp"
#include "outputs/pending_file.hpp"

namespace vexmira::outputs {

class Writer {
public:
    // `folder`: the named output folder, opened now and held for the run (a
    // link the user named is resolved now, once), below which every output
    // is reached by descriptor; none: each output goes next to its input, in
    // the folder its path names. `existsReason`: why a name Existing::Keep
    // finds taken is refused. Raises support::EFCreateError.
    explicit Writer(const std::optional<std::string>& folder, std::string existsReason = "The file exists");

    // Where `input`'s output `suffix` goes, for messages.
    std::string PathOf(const std::string& input, const std::string& suffix) const;

    // `input`, the run's input number `order` (from 0), is taken, in input
    // order; and done with, whatever became of it. See OutputLedger.
    void Take(std::uint64_t order, const std::string& input);
    void Finish(std::uint64_t order, const std::string& input) noexcept;

    // Starts `input`'s output `suffix`, its place claimed for it (after the
    // inputs before `order` named alike). Raises support::EFCreateError.
    std::unique_ptr<PendingFile> Start(const std::string& input, const std::string& suffix, Existing existing,
                                       std::optional<std::uint64_t> order = std::nullopt);
    // The folder `input`'s output `suffix` names, made when missing (the
    // folders on the way too) and held, its place claimed for `input` as
    // Start claims a file's. Raises support::EFCreateError.
    Folder StartFolder(const std::string& input, const std::string& suffix,
                       std::optional<std::uint64_t> order = std::nullopt);
    // Puts it in place. Raises support::EFCreateError naming the file, once
    // the temporary file is gone.
    void Commit(PendingFile& file, const std::string& input);

private:
    struct Place {
        Folder Where;      // the folder that holds it
        std::string Name;  // its name there
        std::string Path;  // for messages
    };
    // Where `input`'s output `suffix` goes, claimed for it.
    Place Claimed(const std::string& input, const std::string& suffix, std::optional<std::uint64_t> order);

    // What two inputs whose outputs have the same names share.
    std::string StemOf(const std::string& input) const;

    std::optional<std::string> folder_path_;
    Folder folder_;  // open when folder_path_ is set
    std::string exists_reason_;
    OutputLedger ledger_;
};

}  // namespace vexmira::outputs
