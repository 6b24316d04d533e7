#pragma once
// The outputs of one run, so that two of its inputs never share one.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "outputs/folder.hpp"
#include "outputs/pending_file.hpp"

namespace vexmira::outputs {

// The second input to reach a place another input claimed, or a file the run
// wrote for another input, gets an error naming both, never an overwrite.
// Which input that is never depends on the workers: an input whose outputs
// are named like an earlier one's (the same `stem`, see Writer) claims its
// places only once that earlier input is finished, so the first named
// always has them. Shared by the workers.
class OutputLedger {
public:
    // In input order: `order` counts the run's inputs. Every input taken is
    // finished, whatever became of it.
    void Take(std::uint64_t order, const std::string& stem);
    void Finish(std::uint64_t order, const std::string& stem) noexcept;

    // Claims `name` in `folder` for `input`, once every input taken before
    // `order` with the same stem is finished (none: no wait). Raises
    // support::EFCreateError naming `path` and the other input when another
    // input has it.
    void Claim(const Folder& folder, const std::string& name, const std::string& path, const std::string& input,
               const std::string& stem, std::optional<std::uint64_t> order);
    // Puts `file` in place after the same check, made with the rename as one step.
    void Commit(PendingFile& file, const std::string& input);

private:
    struct Place {
        support::FileId Folder;
        std::string Name;  // the whole path when the folder cannot be told
        // Spelled out: not every standard library has <=> for strings yet.
        bool operator<(const Place& other) const {
            return std::tie(Folder, Name) < std::tie(other.Folder, other.Name);
        }
    };
    static Place PlaceOf(const outputs::Folder& folder, const std::string& name, const std::string& path);
    void CheckLocked(const outputs::Folder& folder, const std::string& name, const std::string& path,
                     const std::string& input) const;

    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::map<std::string, std::set<std::uint64_t>> unfinished_;  // stem -> inputs taken and not finished
    std::map<support::FileId, std::string> written_;             // file -> the input it was written for
    std::map<Place, std::string> claimed_;                       // place -> the input it is for
};

}  // namespace vexmira::outputs
