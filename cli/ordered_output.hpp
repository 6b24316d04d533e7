#pragma once
// Output of files examined in parallel, printed whole and in input order.
//
// Each file writes to a slot. The slot at the head (the earliest file not yet
// printed in full) writes straight through; the others hold what they write,
// up to a bound, and a slot that would pass it waits for its turn. When the
// head's file is done, the next slots' held output follows in order. So lines
// of different files never interleave, and memory stays within
// (window x bound) however much any file prints.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/output.hpp"

namespace vexmira::cli {

class OrderedOutput {
public:
    // `window`: how many files may be under way at once, counted from the
    // head; `bound`: bytes a waiting slot may hold.
    OrderedOutput(int outFd, int errFd, std::size_t window, std::size_t bound);

    class Slot;
    // Waits until file `index` may start (it lies within the window), then
    // opens its slot. Indices are taken in order, each once.
    std::unique_ptr<Slot> Open(std::uint64_t index);

    // Called from the error stream's writers that are not slots (warnings),
    // so that they never land inside another line.
    void WriteErrorLine(std::string_view line);

    // A progress line on the error stream (a terminal): drawn over itself,
    // and wiped before anything else is written.
    void ShowProgress(std::string_view text);
    void ClearProgress();

    // Set once any write to standard output fails; every slot then refuses.
    bool Failed() const;
    std::string FailureReason() const;

private:
    struct Segment {
        bool error = false;
        std::string bytes;
    };
    struct State {
        std::vector<Segment> held;
        std::size_t heldBytes = 0;
        bool done = false;
    };

    void Write(std::uint64_t index, bool error, const char* data, std::size_t size);
    void Close(std::uint64_t index);
    void WriteThrough(bool error, const char* data, std::size_t size);  // mutex held
    void FlushHeld(State& state);                                      // mutex held
    void WipeProgress();                                                // mutex held

    int out_fd_;
    int err_fd_;
    std::size_t window_;
    std::size_t bound_;
    mutable std::mutex mutex_;
    std::condition_variable turn_;
    std::uint64_t head_ = 0;
    std::map<std::uint64_t, State> states_;
    std::string failure_;
    bool progress_shown_ = false;
};

// A file's output: whole lines, in writes no larger than the real output's.
class OrderedOutput::Slot final : public LineOutput {
public:
    Slot(OrderedOutput& owner, std::uint64_t index, std::size_t chunk)
        : LineOutput(chunk), owner_(owner), index_(index) {}
    ~Slot() override;
    std::uint64_t Index() const noexcept { return index_; }

protected:
    void Send(const char* data, std::size_t size) override;
    void SendError(std::string_view line) override;

private:
    OrderedOutput& owner_;
    std::uint64_t index_;
};

}  // namespace vexmira::cli
