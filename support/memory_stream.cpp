#include "support/memory_stream.hpp"

#include <cstring>
#include <limits>

namespace vexmira::support {

std::int64_t SeekTarget(std::int64_t position, std::int64_t offset, SeekOrigin origin) noexcept {
    if (origin == SeekOrigin::Beginning) return offset < 0 ? -1 : offset;
    if (offset > 0 && position > std::numeric_limits<std::int64_t>::max() - offset) return -1;
    const std::int64_t target = position + offset;  // position >= 0, so a negative offset cannot wrap
    return target < 0 ? -1 : target;
}

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
    try {
        const auto end = static_cast<std::size_t>(position_) + count;
        if (end > bytes_.size()) bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, buffer, count);
        position_ += static_cast<std::int64_t>(count);
        return count;
    } catch (...) {  // out of memory: report a short write
        return 0;
    }
}

}  // namespace vexmira::support
