// The block scan's buffer fits the file: a full read's worth for every small
// file made threads examining many small files at once wait on each other.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "locator/scan.hpp"
#include "support/memory_stream.hpp"
#include "tests/locator/locator_helpers.hpp"

namespace {

// The largest aligned buffer asked for without throwing (how the scan asks)
// while recording.
std::atomic<bool> recording = false;
std::atomic<std::size_t> largest = 0;

}  // namespace

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    if (recording) largest = std::max<std::size_t>(largest, size);
    try {
        return ::operator new[](size, alignment);  // freed by the usual aligned delete[]
    } catch (...) {
        return nullptr;
    }
}

namespace vexmira::locator {
namespace {

std::size_t LargestBufferToFind(const testing::Bytes& file, std::int64_t start, std::int64_t expected) {
    support::MemoryStream stream(file);
    stream.Seek(start, support::SeekOrigin::Beginning);
    largest = 0;
    recording = true;
    const std::int64_t found = FindArchive(stream, stream.Size());
    recording = false;
    EXPECT_EQ(found, expected);
    return largest;
}

TEST(BlockScan, BufferNoLargerThanTheRestOfTheFile) {
    testing::Bytes file(25021, '.');
    testing::Plant(file, 21000, testing::CandidateBytes("LZH"));
    const std::size_t small = LargestBufferToFind(file, 0, 21000);
    EXPECT_GT(small, file.size()) << "the whole file fits";
    EXPECT_LT(small, std::size_t{64} * 1024) << "not a full read of " << kScanReadSize;
    // From a position, only what is left counts.
    EXPECT_LT(LargestBufferToFind(file, 20000, 21000), small);

    // A large file still reads a full read at a time.
    testing::Bytes large(3 * kScanReadSize, '.');
    testing::Plant(large, large.size() - 5000, testing::CandidateBytes("LZH"));
    EXPECT_GE(LargestBufferToFind(large, 0, static_cast<std::int64_t>(large.size() - 5000)), kScanReadSize);
}

}  // namespace
}  // namespace vexmira::locator
