#pragma once
// A stream over bytes in memory, for tests and fuzzing.

#include <cstdint>
#include <vector>

#include "support/stream.hpp"

namespace vexmira::support {

class MemoryStream final : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    MemoryStream(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) {}

    std::size_t Read(void* buffer, std::size_t count) noexcept override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) noexcept override;
    std::int64_t Size() noexcept override { return static_cast<std::int64_t>(bytes_.size()); }
    std::int64_t Position() const noexcept override { return position_; }

    const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }

    // Counts Read calls, so tests can show that nothing was read.
    std::uint64_t ReadCalls() const noexcept { return read_calls_; }

protected:
    std::size_t Write(const void* buffer, std::size_t count) noexcept override;

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
    std::uint64_t read_calls_ = 0;
};

}  // namespace vexmira::support
