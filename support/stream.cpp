#include "support/stream.hpp"

#include "support/exception.hpp"

namespace vexmira::support {

void Stream::WriteBuffer(const void* buffer, std::size_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError(WriteFailureDetail());
}

}  // namespace vexmira::support
