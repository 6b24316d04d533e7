#include "outputs/ledger.hpp"

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::outputs {
namespace {

[[noreturn]] void ThrowSharedOutput(const std::string& path, const std::string& other) {
    throw support::EFCreateError(support::CreateErrorMessage(
        path, "It holds what this run wrote for \"" + support::AbsolutePath(other) + "\", which maps to the same output"));
}

}  // namespace

void OutputLedger::Take(std::uint64_t order, const std::string& stem) {
    const std::lock_guard lock(mutex_);
    unfinished_[stem].insert(order);
}

void OutputLedger::Finish(std::uint64_t order, const std::string& stem) noexcept {
    {
        const std::lock_guard lock(mutex_);
        const auto found = unfinished_.find(stem);
        if (found == unfinished_.end()) return;
        found->second.erase(order);
        if (found->second.empty()) unfinished_.erase(found);
    }
    finished_.notify_all();
}

OutputLedger::Place OutputLedger::PlaceOf(const outputs::Folder& folder, const std::string& name,
                                          const std::string& path) {
    if (const std::optional<support::FileId> id = folder.Id()) return Place{*id, name};
    return Place{support::FileId{}, path};
}

void OutputLedger::CheckLocked(const outputs::Folder& folder, const std::string& name, const std::string& path,
                               const std::string& input) const {
    const auto claim = claimed_.find(PlaceOf(folder, name, path));
    if (claim != claimed_.end() && claim->second != input) ThrowSharedOutput(path, claim->second);
    const std::optional<support::FileId> there = folder.IdOf(name);
    if (!there) return;
    const auto found = written_.find(*there);
    if (found != written_.end() && found->second != input) ThrowSharedOutput(path, found->second);
}

void OutputLedger::Claim(const outputs::Folder& folder, const std::string& name, const std::string& path,
                         const std::string& input, const std::string& stem, std::optional<std::uint64_t> order) {
    std::unique_lock lock(mutex_);
    if (order) {
        // Earlier inputs never wait for later ones, so this wait ends.
        finished_.wait(lock, [&] {
            const auto found = unfinished_.find(stem);
            return found == unfinished_.end() || found->second.empty() || *found->second.begin() >= *order;
        });
    }
    CheckLocked(folder, name, path, input);
    claimed_.emplace(PlaceOf(folder, name, path), input);
}

void OutputLedger::Commit(PendingFile& file, const std::string& input) {
    const std::lock_guard lock(mutex_);
    try {
        CheckLocked(file.Where(), file.Name(), file.Path(), input);
    } catch (...) {
        file.Discard();
        throw;
    }
    file.Commit();
    if (const std::optional<support::FileId> id = file.Stream().Native().Id()) written_[*id] = input;
}

}  // namespace vexmira::outputs
