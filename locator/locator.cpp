#include "locator/locator.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "support/aligned_buffer.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::locator {

// The side file is copied in steps of 2 MiB rather than 4096 bytes, on
// purpose: the same bytes land in the same order, in far fewer system calls.
// Twice the stream's read-ahead: after the first read, which finishes what the
// scan left in the stream's buffer, every read goes straight from the file
// into this buffer. Short of memory, the copy takes the 4096-byte steps the
// read-ahead falls back to.
static_assert(CopyBuffer::kLargeStep >= support::FileStream::kMaxReadAhead);

std::int64_t CopyBytes(support::Stream& from, support::Stream& to, std::int64_t count, CopyBuffer& buffer) {
    std::int64_t copied = 0;
    while (copied < count) {
        const auto step = static_cast<std::int64_t>(buffer.Step());
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(count - copied, step));
        const std::size_t n = from.Read(buffer.Data(), want);
        if (n == 0) break;
        to.WriteBuffer(buffer.Data(), n);
        copied += static_cast<std::int64_t>(n);
    }
    return copied;
}

std::int64_t CopyBytes(support::Stream& from, support::Stream& to, std::int64_t count) {
    CopyBuffer buffer;
    return CopyBytes(from, to, count, buffer);
}

std::int64_t LocateArchive(support::Stream& input, Display& display) { return LocateArchive(input, display, nullptr); }

std::int64_t LocateArchive(support::Stream& input, Display& display, ScanWitness* witness) {
    const std::int64_t size = input.Size();
    display.SetProgressRange(ProgressScale::For(size).Units(size));
    display.SetProgressPosition(0);

    const std::int64_t offset = FindArchive(input, size, kScanReadSize, witness);
    if (offset < 0) {
        display.ShowMessage(std::string(kNotFoundMessage));
        display.SetOffsetText(std::string(kNotFoundText));
        return -1;
    }
    display.SetOffsetText(OffsetText(offset));
    return offset;
}

RipOutcome RipArchive(const std::string& inputPath, Display& display) {
    std::optional<support::FileStream> side;
    return RipArchive(inputPath, display, [&]() -> support::Stream& {
        // A link or another file's name in the side file's place is refused
        // by the create, so the input can never be emptied through it.
        return side.emplace(support::SideFilePath(inputPath), support::FileMode::CreateExclusive);
    });
}

RipOutcome RipArchive(const std::string& inputPath, Display& display,
                      const std::function<support::Stream&()>& createSide) {
    return RipArchive(inputPath, display, createSide, nullptr);
}

RipOutcome RipArchive(const std::string& inputPath, Display& display,
                      const std::function<support::Stream&()>& createSide, ScanWitness* witness) {
    // The offset is kept across errors: one raised after a candidate was found
    // still returns it, and the dialog lists whatever side file there is.
    RipOutcome outcome;
    const auto fail = [&](const support::Exception& error) {
        outcome.Failure = error.FullMessage();
        display.ShowMessage(std::string(kExceptPrefix) + error.Message());
    };
    try {
        // The input's size is fixed when it opens, so the scan and the copy
        // end even if the file grows meanwhile.
        support::FileStream input(inputPath, support::FileMode::OpenReadExclusive);
        outcome.Offset = LocateArchive(input, display, witness);
        if (outcome.Offset < 0) return outcome;

        input.Seek(outcome.Offset, support::SeekOrigin::Beginning);
        // The memory first: nothing may fail between emptying the side file
        // and copying into it but the copy itself.
        CopyBuffer buffer;
        support::Stream& side = createSide();
        outcome.SideCreated = true;
        CopyBytes(input, side, std::numeric_limits<std::int64_t>::max(), buffer);
        outcome.Copied = true;

        const std::int64_t end = input.Position();
        display.SetProgressPosition(ProgressScale::For(input.Size()).Units(end));
    } catch (const support::Exception& error) {
        fail(error);
    } catch (const std::bad_alloc&) {
        fail(support::EOutOfMemory());
    }
    return outcome;
}

std::int64_t Rip_ARC_Archive(const std::string& inputPath, Display& display) {
    return RipArchive(inputPath, display).Offset;
}

}  // namespace vexmira::locator
