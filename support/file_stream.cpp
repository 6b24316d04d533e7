#include "support/file_stream.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/exception.hpp"

#include "support/memory_stream.hpp"

namespace vexmira::support {

FileStream::FileStream(const std::string& path, FileMode mode, BufferAllocator allocate)
    : path_(path),
      file_(mode == FileMode::OpenReadExclusive ? NativeFile::OpenReadExclusive(path)
                                                : NativeFile::CreateExclusive(path)),
      allocate_(allocate),
      end_(mode == FileMode::OpenReadExclusive ? file_.Size() : -1) {}

FileStream::FileStream(NativeFile file, std::string path, BufferAllocator allocate)
    : path_(std::move(path)), file_(std::move(file)), allocate_(allocate) {}

FileStream::~FileStream() = default;

std::size_t FileStream::Fetch(std::int64_t offset, void* buffer, std::size_t count) noexcept {
    ++fetch_count_;
    bytes_fetched_ += count;
    const std::size_t n = file_.ReadAt(offset, buffer, count);
    fetch_end_ = offset + static_cast<std::int64_t>(n);
    return n;
}

bool FileStream::ReserveBuffer() noexcept {
    if (buffer_capacity_ >= read_ahead_) return true;
    AlignedBuffer grown = allocate_(read_ahead_);
    if (!grown) {
        if (buffer_capacity_ == 0) return false;
        read_ahead_ = buffer_capacity_;  // go on reading ahead with the buffer there is
        return true;
    }
    buffer_ = std::move(grown);
    buffer_capacity_ = read_ahead_;
    buffer_length_ = 0;
    return true;
}

std::size_t FileStream::Read(void* buffer, std::size_t count) noexcept {
    if (end_ >= 0) {
        if (position_ >= end_) return 0;
        if (count > static_cast<std::uint64_t>(end_ - position_)) count = static_cast<std::size_t>(end_ - position_);
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (position_ >= buffer_start_ && position_ - buffer_start_ < static_cast<std::int64_t>(buffer_length_)) {
            const auto offset = static_cast<std::size_t>(position_ - buffer_start_);
            const std::size_t n = std::min(count - done, buffer_length_ - offset);
            std::memcpy(out + done, buffer_.get() + offset, n);
            done += n;
            position_ += static_cast<std::int64_t>(n);
            continue;
        }
        // Reading on where the last fetch ended is sequential: the window grows.
        // Anything else is a jump, and the window starts small again.
        read_ahead_ = NextReadAhead(read_ahead_, position_, fetch_end_);
        const std::size_t wanted = count - done;
        // Large requests go straight to the caller's memory, and so does any
        // request when no memory for the read-ahead can be had: this read
        // cannot raise, and delivering nothing would look like the end of the file.
        if (wanted >= kMaxReadAhead || !ReserveBuffer()) {
            const std::size_t n = Fetch(position_, out + done, wanted);
            done += n;
            position_ += static_cast<std::int64_t>(n);
            break;
        }
        buffer_start_ = position_;
        buffer_length_ = Fetch(position_, buffer_.get(), read_ahead_);
        if (buffer_length_ == 0) break;  // end of file or a read error
    }
    return done;
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) noexcept {
    const std::int64_t target = SeekTarget(position_, offset, origin);
    if (target >= 0) position_ = target;  // no system call: the next read fetches from there
    return target;
}

std::int64_t FileStream::Size() noexcept { return end_ >= 0 ? end_ : file_.Size(); }

std::size_t FileStream::Write(const void* buffer, std::size_t count) noexcept {
    buffer_length_ = 0;  // what was read ahead may no longer be what the file holds
    const std::size_t n = file_.WriteAt(position_, buffer, count);
    if (n != count) write_failure_ = LastSystemErrorText();
    position_ += static_cast<std::int64_t>(n);
    fetch_end_ = -1;
    return n;
}

std::string FileStream::WriteFailureDetail() const {
    return "in file \"" + AbsolutePath(path_) + "\". " + write_failure_;
}

}  // namespace vexmira::support
