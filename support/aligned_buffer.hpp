#pragma once
// Page-aligned byte buffers for large reads and writes: the kernel copies into
// or out of a buffer that is not 64-byte aligned several times slower (a
// malloc'd 1 MiB buffer, 16 bytes past a page boundary, read the page cache at
// a sixth of the speed).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace vexmira::support {

inline constexpr std::size_t kBufferAlignment = 4096;

struct AlignedDelete {
    void operator()(std::uint8_t* bytes) const noexcept {
        ::operator delete[](bytes, std::align_val_t{kBufferAlignment});
    }
};

using AlignedBuffer = std::unique_ptr<std::uint8_t[], AlignedDelete>;

inline AlignedBuffer AllocateAligned(std::size_t size) {
    return AlignedBuffer(static_cast<std::uint8_t*>(::operator new[](size, std::align_val_t{kBufferAlignment})));
}

// As AllocateAligned, but an empty buffer when the memory cannot be had.
inline AlignedBuffer TryAllocateAligned(std::size_t size) noexcept {
    return AlignedBuffer(
        static_cast<std::uint8_t*>(::operator new[](size, std::align_val_t{kBufferAlignment}, std::nothrow)));
}

}  // namespace vexmira::support
