#pragma once
// Finds an archive embedded in a carrier file and copies it out to the side file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/aligned_buffer.hpp"
#include "support/file_stream.hpp"
#include "support/stream.hpp"

namespace vexmira::locator {

// What the locator reports to; the dialog backs it with its controls, the
// command-line tool and the tests with their own.
class Display {
public:
    virtual ~Display() = default;
    virtual void SetProgressRange(std::int32_t maximum) = 0;  // minimum is always 0
    virtual void SetProgressPosition(std::int32_t position) = 0;
    virtual void SetOffsetText(const std::string& text) = 0;
    // Waits until the user has seen it.
    virtual void ShowMessage(const std::string& text) = 0;
};

inline constexpr std::string_view kNotFoundMessage = "File scanned , But NO TCompress ARC Archive found !";
inline constexpr std::string_view kNotFoundText = "Not found";
// Prefixed to the message of every file-layer error the locator catches.
inline constexpr std::string_view kExceptPrefix = "Except: ";

// Scans the file at inputPath; on success writes inputPath + "$$$" and returns
// the archive's offset, else -1. Errors of the file layer, and running out of
// memory, are shown as "Except: " + message and the offset known at that
// moment is returned.
std::int64_t Rip_ARC_Archive(const std::string& inputPath, Display& display);

// What Rip_ARC_Archive did, for callers that need more than the offset.
struct RipOutcome {
    std::int64_t Offset = -1;            // as Rip_ARC_Archive returns it
    // The side file was created, or an existing one replaced, by this run.
    // False after a candidate when it could not be: whatever holds the name
    // then is not this input's tail.
    bool SideCreated = false;
    bool Copied = false;                 // the side file was created and filled to the input's end
    std::optional<std::string> Failure;  // the caught error's full message, when one was shown
};
RipOutcome RipArchive(const std::string& inputPath, Display& display);
// The same with the side file made by the caller: `createSide` runs once an
// archive is located and returns the stream to copy into, which stays the
// caller's; what it raises is shown like a create error.
RipOutcome RipArchive(const std::string& inputPath, Display& display,
                      const std::function<support::Stream&()>& createSide);
struct ScanWitness;
// The same, telling `witness` what the block scan saw besides its winner.
RipOutcome RipArchive(const std::string& inputPath, Display& display,
                      const std::function<support::Stream&()>& createSide, ScanWitness* witness);

// The memory a copy goes through: 2 MiB when it can be had, else a 4096-byte
// step held inside the object, so that taking one never fails. Taken before
// the side file is emptied, so a short memory cannot cost an earlier side file.
class CopyBuffer {
public:
    static constexpr std::size_t kLargeStep = 2 * support::FileStream::kMaxReadAhead;
    static constexpr std::size_t kSmallStep = support::FileStream::kMinReadAhead;

    explicit CopyBuffer(support::FileStream::BufferAllocator allocate = support::TryAllocateAligned) noexcept
        : large_(allocate(kLargeStep)) {}
    CopyBuffer(const CopyBuffer&) = delete;
    CopyBuffer& operator=(const CopyBuffer&) = delete;

    std::uint8_t* Data() noexcept { return large_ ? large_.get() : small_; }
    std::size_t Step() const noexcept { return large_ ? kLargeStep : kSmallStep; }

private:
    support::AlignedBuffer large_;
    alignas(64) std::uint8_t small_[kSmallStep] = {};
};

// Copies up to `count` bytes from `from`'s position to `to`, a buffer's step
// at a time; stops early at the end of `from`. Returns the count copied; a
// failed write raises EWriteError.
std::int64_t CopyBytes(support::Stream& from, support::Stream& to, std::int64_t count, CopyBuffer& buffer);
// The same through a buffer of its own; never fails for want of memory.
std::int64_t CopyBytes(support::Stream& from, support::Stream& to, std::int64_t count);

// The part of Rip_ARC_Archive that needs no side file, for listing in place:
// sets the progress range and position 0, runs the block scan from the
// stream's position, and shows the offset text, or the not-found message and
// "Not found". Returns the offset or -1.
std::int64_t LocateArchive(support::Stream& input, Display& display);
// The same, telling `witness` (none: nobody) what the block scan saw besides its winner.
std::int64_t LocateArchive(support::Stream& input, Display& display, ScanWitness* witness);

}  // namespace vexmira::locator
