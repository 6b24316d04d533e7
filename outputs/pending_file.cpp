#include "outputs/pending_file.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <utility>

#include "support/exception.hpp"

namespace vexmira::outputs {
namespace {

// A name no one else is likely to pick; O_EXCL (CREATE_NEW) settles the rest.
std::string TemporaryName(const std::string& name) {
    static std::atomic<std::uint64_t> counter = 0;
    std::uint64_t x = counter.fetch_add(1) + 0x9E3779B97F4A7C15ull *
                      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    char hex[9];
    for (int i = 0; i < 8; ++i) hex[i] = "0123456789abcdef"[(x >> (4 * i)) & 0xF];
    hex[8] = '\0';
    // Ends in "$$$", so a walk over the folder skips it as it skips side files.
    return name.substr(0, 200) + ".~" + hex + "$$$";
}

}  // namespace

PendingFile::PendingFile(Folder folder, std::string name, std::string path, Existing existing, std::string existsReason)
    : folder_(std::move(folder)),
      name_(std::move(name)),
      path_(std::move(path)),
      existing_(existing),
      exists_reason_(std::move(existsReason)) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = TemporaryName(name_);
        std::optional<support::NativeFile> file = folder_.CreateNew(temporary, path_);
        if (!file) continue;
        temporary_ = std::move(temporary);
        signal_slot_ = folder_.RememberForSignals(temporary_);
        stream_.emplace(std::move(*file), path_);
        return;
    }
    throw support::EFCreateError(support::CreateErrorMessage(path_, "No temporary name is free"));
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() noexcept {
    if (settled_ || temporary_.empty()) return;
    settled_ = true;
    Folder::ForgetForSignals(std::exchange(signal_slot_, -1));
    stream_.reset();  // on Windows the file goes when its handle closes
    folder_.Remove(temporary_);
}

void PendingFile::Commit() {
    // Settled either way: a failed commit has removed the temporary file.
    settled_ = true;
    // Replacing puts what was there under the temporary name for a moment:
    // a signal then must not remove it.
    if (existing_ == Existing::ReplaceStale) Folder::ForgetForSignals(std::exchange(signal_slot_, -1));
    try {
        folder_.Commit(stream_->Native(), temporary_, name_, existing_, path_, exists_reason_);
    } catch (...) {
        Folder::ForgetForSignals(std::exchange(signal_slot_, -1));
        stream_.reset();  // its room is given back only once it is closed too
        throw;
    }
    Folder::ForgetForSignals(std::exchange(signal_slot_, -1));
}

}  // namespace vexmira::outputs
