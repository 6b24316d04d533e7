#pragma once
// The differential fuzz targets read their input as a script of small numbers
// taken from the front. Past the end every value reads as 0, so any input is a
// complete script, and the seed maker writes scripts with the same layout.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// For the harness's own loops over every byte (models, fills, comparisons):
// tracing their comparisons would cost far more than the code under test and
// guide the fuzzer nowhere new.
#define VEXMIRA_UNTRACED __attribute__((no_sanitize("coverage")))

namespace vexmira::fuzz {

class ScriptReader {
public:
    explicit ScriptReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    bool Done() const noexcept { return next_ >= bytes_.size(); }

    std::uint8_t U8() noexcept { return Done() ? 0 : bytes_[next_++]; }
    std::int8_t I8() noexcept { return static_cast<std::int8_t>(U8()); }
    std::uint16_t U16() noexcept {
        const std::uint16_t low = U8();
        return static_cast<std::uint16_t>(low | (U8() << 8));
    }
    std::uint32_t U32() noexcept {
        const std::uint32_t low = U16();
        return low | (static_cast<std::uint32_t>(U16()) << 16);
    }
    // Up to count bytes; fewer at the end.
    std::span<const std::uint8_t> Take(std::size_t count) noexcept {
        const std::size_t n = count < bytes_.size() - next_ ? count : bytes_.size() - next_;
        const std::span<const std::uint8_t> taken = bytes_.subspan(next_, n);
        next_ += n;
        return taken;
    }
    std::span<const std::uint8_t> Rest() noexcept { return Take(bytes_.size() - next_); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;
};

class ScriptWriter {
public:
    ScriptWriter& U8(std::uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    ScriptWriter& I8(std::int8_t value) { return U8(static_cast<std::uint8_t>(value)); }
    ScriptWriter& U16(std::uint16_t value) { return U8(static_cast<std::uint8_t>(value)).U8(static_cast<std::uint8_t>(value >> 8)); }
    ScriptWriter& U32(std::uint32_t value) {
        return U16(static_cast<std::uint16_t>(value)).U16(static_cast<std::uint16_t>(value >> 16));
    }
    ScriptWriter& Raw(std::span<const std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace vexmira::fuzz
