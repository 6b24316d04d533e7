#pragma once
// SHA-256, so that a carved file's report says which bytes it holds.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/stream.hpp"

namespace vexmira::cli {

class Sha256 {
public:
    Sha256() noexcept;
    void Add(const void* data, std::size_t size) noexcept;
    // Lower-case hex, 64 digits. Ends the digest: add nothing after it.
    std::string Hex() noexcept;

private:
    void Block(const std::uint8_t* block) noexcept;

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t total_bytes_ = 0;
};

std::string Sha256Hex(std::string_view bytes);

// The digest of [offset, end) of the stream; raises the file stream's read
// error when those bytes cannot all be read.
std::string Sha256OfRange(support::Stream& stream, std::int64_t offset, std::int64_t end, const std::string& file);

}  // namespace vexmira::cli
