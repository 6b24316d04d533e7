#include "support/file_stream.hpp"

#include <algorithm>
#include <cstring>

#include "support/memory_stream.hpp"

namespace vexmira::support {

std::string TrimSystemMessage(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

FileStream::FileStream(const std::string& path, FileMode mode)
    : path_(path),
      file_(mode == FileMode::OpenReadExclusive ? NativeFile::OpenReadExclusive(path)
                                                : NativeFile::CreateExclusive(path)),
      end_(mode == FileMode::OpenReadExclusive ? file_.Size() : -1) {}

FileStream::~FileStream() = default;

std::size_t FileStream::Fetch(std::int64_t offset, void* buffer, std::size_t count) noexcept {
    ++fetch_count_;
    bytes_fetched_ += count;
    const std::size_t n = file_.ReadAt(offset, buffer, count);
    fetch_end_ = offset + static_cast<std::int64_t>(n);
    return n;
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
        read_ahead_ = position_ == fetch_end_ ? std::min(read_ahead_ * 2, kMaxReadAhead) : kMinReadAhead;
        const std::size_t wanted = count - done;
        if (wanted >= kMaxReadAhead) {
            // Large requests go straight to the caller's memory.
            const std::size_t n = Fetch(position_, out + done, wanted);
            done += n;
            position_ += static_cast<std::int64_t>(n);
            break;
        }
        if (buffer_capacity_ < read_ahead_) {
            buffer_ = AllocateAligned(read_ahead_);
            buffer_capacity_ = read_ahead_;
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
