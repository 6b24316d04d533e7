#include "support/memory_stream.hpp"

#include <cstring>

namespace vexmira::support {

std::size_t MemoryStream::Read(void* buffer, std::size_t count) noexcept {
    ++read_calls_;
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (position_ >= size || count == 0) return 0;
    const auto available = static_cast<std::size_t>(size - position_);
    const std::size_t n = count < available ? count : available;
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) noexcept {
    const std::int64_t target = SeekTarget(position_, offset, origin);
    if (target >= 0) position_ = target;
    return target;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) noexcept {
    // The position may lie anywhere up to 2^63, far beyond what a 32-bit
    // size_t holds: bound it by subtraction before narrowing it.
    const auto largest = static_cast<std::uint64_t>(bytes_.max_size());
    if (static_cast<std::uint64_t>(position_) > largest || count > largest - static_cast<std::uint64_t>(position_)) {
        return 0;
    }
    try {
        const std::size_t end = static_cast<std::size_t>(position_) + count;
        if (end > bytes_.size()) bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, buffer, count);
        position_ += static_cast<std::int64_t>(count);
        return count;
    } catch (...) {  // out of memory: report a short write
        return 0;
    }
}

}  // namespace vexmira::support
