#include "locator/locator.hpp"

#include <filesystem>
#include <memory>
#include <system_error>

#include "support/aligned_buffer.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::locator {

namespace {

// The side file is copied in steps of 2 MiB rather than 4096 bytes, on
// purpose: the same bytes land in the same order, in far fewer system calls.
// Twice the stream's read-ahead: after the first read, which finishes what the
// scan left in the stream's buffer, every read goes straight from the file
// into this buffer.
constexpr std::size_t kCopyChunk = 2 * support::FileStream::kMaxReadAhead;

// A side path that names the input itself (a link called like the side file)
// must not be created: create-or-replace would empty the input before a byte
// is copied. Windows refuses it already, as the input is open without
// sharing; this gives the same answer where locks are only advisory.
bool SameFile(const std::string& a, const std::string& b) noexcept {
    try {
        std::error_code error;
        return std::filesystem::equivalent(a, b, error) && !error;
    } catch (const std::exception&) {
        return false;  // a name the library cannot convert; the file layer still guards it
    }
}

void RefuseInputAsSideFile(const std::string& inputPath, const std::string& sidePath) {
    if (!SameFile(inputPath, sidePath)) return;
    throw support::EFCreateError(support::CreateErrorMessage(sidePath, support::kFileInUseReason));
}

void CopyToEnd(support::Stream& from, support::Stream& to) {
    const support::AlignedBuffer chunk = support::AllocateAligned(kCopyChunk);
    for (;;) {
        const std::size_t n = from.Read(chunk.get(), kCopyChunk);
        if (n == 0) return;
        to.WriteBuffer(chunk.get(), n);
    }
}

}  // namespace

std::int64_t LocateArchive(support::Stream& input, Display& display) {
    const std::int64_t size = input.Size();
    display.SetProgressRange(ProgressScale::For(size).Units(size));
    display.SetProgressPosition(0);

    const std::int64_t offset = FindArchive(input, size);
    if (offset < 0) {
        display.ShowMessage(std::string(kNotFoundMessage));
        display.SetOffsetText(std::string(kNotFoundText));
        return -1;
    }
    display.SetOffsetText(OffsetText(offset));
    return offset;
}

std::int64_t Rip_ARC_Archive(const std::string& inputPath, Display& display) {
    // The offset is kept across errors: one raised after a candidate was found
    // still returns it, and the caller lists whatever side file there is.
    std::int64_t ripOffset = -1;
    try {
        support::FileStream input(inputPath, support::FileMode::OpenReadExclusive);
        ripOffset = LocateArchive(input, display);
        if (ripOffset < 0) return -1;

        input.Seek(ripOffset, support::SeekOrigin::Beginning);
        const std::string sidePath = support::SideFilePath(inputPath);
        RefuseInputAsSideFile(inputPath, sidePath);
        support::FileStream side(sidePath, support::FileMode::CreateExclusive);
        CopyToEnd(input, side);

        const std::int64_t end = input.Position();
        display.SetProgressPosition(ProgressScale::For(input.Size()).Units(end));
    } catch (const support::Exception& error) {
        display.ShowMessage(std::string(kExceptPrefix) + error.Message());
    }
    return ripOffset;
}

}  // namespace vexmira::locator
