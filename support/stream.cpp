#include "support/stream.hpp"

#include <limits>

#include "support/exception.hpp"

namespace vexmira::support {

std::int64_t SeekTarget(std::int64_t position, std::int64_t offset, SeekOrigin origin) noexcept {
    if (origin == SeekOrigin::Beginning) return offset < 0 ? -1 : offset;
    if (offset > 0 && position > std::numeric_limits<std::int64_t>::max() - offset) return -1;
    const std::int64_t target = position + offset;  // position >= 0, so a negative offset cannot wrap
    return target < 0 ? -1 : target;
}

void Stream::WriteBuffer(const void* buffer, std::size_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError(WriteFailureDetail());
}

}  // namespace vexmira::support
