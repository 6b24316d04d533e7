#include "cli/ordered_output.hpp"

#include "cli/platform.hpp"

namespace vexmira::cli {

namespace {

// The progress line is a courtesy: a failed or short write of it is let go.
void WriteBestEffort(int fd, std::string_view text) noexcept {
    try {
        platform::WriteSome(fd, text.data(), text.size());
    } catch (...) {
    }
}

}  // namespace

OrderedOutput::OrderedOutput(int outFd, int errFd, std::size_t window, std::size_t bound)
    : out_fd_(outFd), err_fd_(errFd), window_(window == 0 ? 1 : window), bound_(bound) {}

std::unique_ptr<OrderedOutput::Slot> OrderedOutput::Open(std::uint64_t index) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return index < head_ + window_ || !failure_.empty(); });
    states_.try_emplace(index);
    return std::make_unique<Slot>(*this, index, WriteChunkFor(out_fd_));
}

bool OrderedOutput::Failed() const {
    std::lock_guard lock(mutex_);
    return !failure_.empty();
}

std::string OrderedOutput::FailureReason() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

void OrderedOutput::WriteThrough(bool error, const char* data, std::size_t size) {
    WipeProgress();
    if (error) {
        cli::WriteErrorLine(std::string_view(data, size - (size > 0 && data[size - 1] == '\n' ? 1 : 0)), err_fd_);
        return;
    }
    if (!failure_.empty()) throw OutputError(failure_);
    try {
        WriteAll(out_fd_, data, size);
    } catch (const OutputError& e) {
        failure_ = e.what();
        turn_.notify_all();
        throw;
    }
}

void OrderedOutput::FlushHeld(State& state) {
    for (const Segment& segment : state.held) WriteThrough(segment.error, segment.bytes.data(), segment.bytes.size());
    state.held.clear();
    state.heldBytes = 0;
}

void OrderedOutput::Write(std::uint64_t index, bool error, const char* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    if (!failure_.empty()) throw OutputError(failure_);
    State& state = states_.at(index);
    if (index != head_ && state.heldBytes + size > bound_) {
        // Too much to hold: wait until this file's turn comes.
        turn_.wait(lock, [&] { return index == head_ || !failure_.empty(); });
        if (!failure_.empty()) throw OutputError(failure_);
    }
    if (index == head_) {
        FlushHeld(state);
        WriteThrough(error, data, size);
        return;
    }
    state.held.push_back({error, std::string(data, size)});
    state.heldBytes += size;
}

void OrderedOutput::Close(std::uint64_t index) {
    std::lock_guard lock(mutex_);
    states_.at(index).done = true;
    // The head moves past every file that is done, printing what each held.
    for (auto it = states_.find(head_); it != states_.end() && it->second.done; it = states_.find(head_)) {
        if (failure_.empty()) {
            try {
                FlushHeld(it->second);
            } catch (const OutputError&) {
                // Recorded in failure_; the run reports it.
            }
        }
        states_.erase(it);
        ++head_;
    }
    turn_.notify_all();
}

void OrderedOutput::WriteErrorLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    WipeProgress();
    cli::WriteErrorLine(line, err_fd_);
}

void OrderedOutput::WipeProgress() {
    if (!progress_shown_) return;
    progress_shown_ = false;
    static constexpr char kWipe[] = "\r\x1B[K";  // back to the line's start, erase to its end
    WriteBestEffort(err_fd_, kWipe);
}

void OrderedOutput::ShowProgress(std::string_view text) {
    std::lock_guard lock(mutex_);
    // Appended, not added: g++ 12 at -O3 takes `"\r" + std::string` for an overlapping copy.
    std::string line;
    line.reserve(text.size() + 4);
    line += '\r';
    line += text;
    line += "\x1B[K";
    WriteBestEffort(err_fd_, line);
    progress_shown_ = true;
}

void OrderedOutput::ClearProgress() {
    std::lock_guard lock(mutex_);
    WipeProgress();
}

OrderedOutput::Slot::~Slot() {
    try {
        Flush();
    } catch (const OutputError&) {
        // Recorded by the owner; the run reports it.
    }
    owner_.Close(index_);
}

void OrderedOutput::Slot::Send(const char* data, std::size_t size) { owner_.Write(index_, false, data, size); }

void OrderedOutput::Slot::SendError(std::string_view line) { owner_.Write(index_, true, line.data(), line.size()); }

}  // namespace vexmira::cli
