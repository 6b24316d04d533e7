#pragma once
// The stream over one open file, with buffered, adaptive read-ahead.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/aligned_buffer.hpp"
#include "support/file_system.hpp"
#include "support/stream.hpp"

namespace vexmira::support {

enum class FileMode {
    // Read-only, without sharing: fails while another handle to the file is
    // open, and keeps others out meanwhile. The stream ends where the file
    // ended when it was opened: where writers cannot be kept out, a file that
    // grows meanwhile cannot keep a reader going.
    OpenReadExclusive,
    // Create or replace (an existing file is emptied), read and write, without
    // sharing. An existing name is replaced only when it is a regular file
    // with no other name (no link of either kind) that may be written.
    CreateExclusive,
};

class FileStream final : public Stream {
public:
    // Where the read-ahead buffer comes from: an empty buffer when memory is short.
    using BufferAllocator = AlignedBuffer (*)(std::size_t size) noexcept;

    // Raises EFOpenError or EFCreateError with the message
    // 'Cannot open file "<absolute path>". <system text>' (or "Cannot create file ").
    FileStream(const std::string& path, FileMode mode, BufferAllocator allocate = TryAllocateAligned);
    // Reads and writes `file`, opened elsewhere; `path` names it in messages.
    FileStream(NativeFile file, std::string path, BufferAllocator allocate = TryAllocateAligned);
    ~FileStream() override;

    NativeFile& Native() noexcept { return file_; }

    std::size_t Read(void* buffer, std::size_t count) noexcept override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) noexcept override;
    std::int64_t Size() noexcept override;
    std::int64_t Position() const noexcept override { return position_; }

    // Bytes asked of the operating system by reads so far, and how many read
    // calls that took; for measuring the read-ahead.
    std::uint64_t BytesFetched() const noexcept { return bytes_fetched_; }
    std::uint64_t FetchCount() const noexcept { return fetch_count_; }

    // Read-ahead bounds: the window starts small after every seek outside the
    // buffer (so skipping stored data never reads it) and doubles while
    // reading stays sequential.
    static constexpr std::size_t kMinReadAhead = std::size_t{4} * 1024;
    static constexpr std::size_t kMaxReadAhead = std::size_t{1024} * 1024;
    // The window for a fetch at `position` when the last one ended at
    // `lastFetchEnd` with a window of `current`; for any stream that reads ahead.
    static constexpr std::size_t NextReadAhead(std::size_t current, std::int64_t position,
                                               std::int64_t lastFetchEnd) noexcept {
        return position == lastFetchEnd ? std::min(current * 2, kMaxReadAhead) : kMinReadAhead;
    }

protected:
    std::size_t Write(const void* buffer, std::size_t count) noexcept override;
    std::string WriteFailureDetail() const override;

private:
    std::size_t Fetch(std::int64_t offset, void* buffer, std::size_t count) noexcept;
    // Makes the buffer hold at least read_ahead_ bytes; when memory is short,
    // shrinks read_ahead_ to the buffer there is, or returns false when there is none.
    bool ReserveBuffer() noexcept;

    std::string path_;
    NativeFile file_;
    BufferAllocator allocate_;
    std::int64_t end_ = -1;  // read-only: the size at open (-1 when unknown); else unused
    std::string write_failure_;  // the system's text for the last short write
    std::int64_t position_ = 0;
    // Holds the file's bytes [buffer_start_, buffer_start_ + buffer_length_).
    AlignedBuffer buffer_;  // aligned: the kernel copies into unaligned memory far slower
    std::size_t buffer_capacity_ = 0;
    std::int64_t buffer_start_ = 0;
    std::size_t buffer_length_ = 0;
    std::int64_t fetch_end_ = -1;  // file offset just past the last fetch
    std::size_t read_ahead_ = kMinReadAhead;
    std::uint64_t bytes_fetched_ = 0;
    std::uint64_t fetch_count_ = 0;
};

}  // namespace vexmira::support
