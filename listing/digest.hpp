#pragma once
// SHA-256, so that a carved file's report says which bytes it holds. Where
// the processor has the SHA instructions, blocks go through them; otherwise
// through the portable rounds. Both give the same digest.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/stream.hpp"

namespace vexmira::listing {

// The ways of running the compression function, slowest first.
enum class Sha256Path { Portable, ShaExtensions };

// The paths this processor can run, the fastest last.
std::vector<Sha256Path> Sha256Paths();

class Sha256 {
public:
    Sha256() noexcept;
    // For tests that compare the paths; `path` must be one Sha256Paths gives.
    explicit Sha256(Sha256Path path) noexcept;
    void Add(const void* data, std::size_t size) noexcept;
    // Lower-case hex, 64 digits. Ends the digest: add nothing after it.
    std::string Hex() noexcept;

private:
    void Blocks(const std::uint8_t* blocks, std::size_t count) noexcept;

    std::array<std::uint32_t, 8> state_;
    Sha256Path path_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t total_bytes_ = 0;
};

std::string Sha256Hex(std::string_view bytes);

// The digest of [offset, end) of the stream; raises the file stream's read
// error when those bytes cannot all be read.
std::string Sha256OfRange(support::Stream& stream, std::int64_t offset, std::int64_t end, const std::string& file);

}  // namespace vexmira::listing
