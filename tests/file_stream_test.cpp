// The file stream: messages, exclusive opening, buffered reads that stay exact.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "archive/compress.hpp"

#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::support {
namespace {

using testing::Bytes;
using testing::TempDir;

std::string Cwd() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

template <class Error>
std::string MessageOf(const std::string& path, FileMode mode) {
    try {
        FileStream stream(path, mode);
    } catch (const Error& error) {
        return error.Message();
    }
    return "(no error)";
}

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    std::mt19937 random(7);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST(FileStreamErrors, MissingFileNamesTheAbsolutePathAndTheSystemReason) {
    TempDir dir;
    const std::string path = (dir / "missing.ARC").string();
    EXPECT_EQ(MessageOf<EFOpenError>(path, FileMode::OpenReadExclusive),
              "Cannot open file \"" + path + "\". No such file or directory");
    EXPECT_EQ(MessageOf<EFOpenError>("no-such-file.ARC", FileMode::OpenReadExclusive),
              "Cannot open file \"" + Cwd() + "/no-such-file.ARC\". No such file or directory");
}

TEST(FileStreamErrors, UncreatableFileRaisesTheCreateError) {
    TempDir dir;
    const std::string path = (dir / "no-dir" / "x$$$").string();
    EXPECT_EQ(MessageOf<EFCreateError>(path, FileMode::CreateExclusive),
              "Cannot create file \"" + path + "\". No such file or directory");
    EXPECT_EQ(MessageOf<EFCreateError>(dir.Path().string(), FileMode::CreateExclusive),
              "Cannot create file \"" + dir.Path().string() + "\". Is a directory");
    EXPECT_EQ(MessageOf<EFOpenError>(dir.Path().string(), FileMode::OpenReadExclusive),
              "Cannot open file \"" + dir.Path().string() + "\". Is a directory");
}

TEST(FileStreamErrors, ReadersShareAFileThatNoWriterMayReplaceMeanwhile) {
    TempDir dir;
    const std::string path = (dir / "held.bin").string();
    testing::WriteFile(path, Bytes{1, 2, 3});
    // Worded as Windows words a sharing violation, by every caller.
    const std::string inUse = "The process cannot access the file because it is being used by another process";
    {
        FileStream written(path, FileMode::CreateExclusive);
        EXPECT_EQ(MessageOf<EFOpenError>(path, FileMode::OpenReadExclusive),
                  "Cannot open file \"" + path + "\". " + inUse)
            << "nobody reads a file being written";
    }
    testing::WriteFile(path, Bytes{1, 2, 3});
    {
        FileStream held(path, FileMode::OpenReadExclusive);
        FileStream alsoReading(path, FileMode::OpenReadExclusive);  // readers share
        std::uint8_t first = 0;
        EXPECT_EQ(alsoReading.Read(&first, 1), 1u);
        EXPECT_EQ(first, 1);
        EXPECT_EQ(MessageOf<EFCreateError>(path, FileMode::CreateExclusive),
                  "Cannot create file \"" + path + "\". " + inUse);
        // The same file under a second name is the same file.
        const std::string link = (dir / "link$$$").string();
        ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
        EXPECT_NE(MessageOf<EFCreateError>(link, FileMode::CreateExclusive), "(no error)");
    }
    EXPECT_EQ(testing::ReadFile(path), (Bytes{1, 2, 3})) << "a refused create must not empty the file";
    EXPECT_NO_THROW(FileStream again(path, FileMode::OpenReadExclusive));
}

TEST(FileStreamErrors, AbsolutePathsAreCleanedLexically) {
    EXPECT_EQ(AbsolutePath("/a/./b//c/../d"), "/a/b/d");
    EXPECT_EQ(AbsolutePath("/.."), "/");
    EXPECT_EQ(AbsolutePath("x/../y"), Cwd() + "/y");
    EXPECT_EQ(AbsolutePath(""), "");
}

TEST(FileStreamWrite, CreateReplacesAndWritesAreReadBack) {
    TempDir dir;
    const std::string path = (dir / "out$$$").string();
    testing::WriteFile(path, Pattern(10000));
    {
        FileStream out(path, FileMode::CreateExclusive);
        EXPECT_EQ(out.Size(), 0) << "an existing file is emptied";
        out.WriteBuffer("hello", 5);
        EXPECT_EQ(out.Position(), 5);
        EXPECT_EQ(out.Seek(0, SeekOrigin::Beginning), 0);
        char back[5] = {};
        EXPECT_EQ(out.Read(back, 5), 5u);
        EXPECT_EQ(std::string(back, 5), "hello");
    }
    EXPECT_EQ(testing::ReadFile(path), (Bytes{'h', 'e', 'l', 'l', 'o'}));
}

TEST(FileStreamWrite, WritingToAReadOnlyStreamRaisesTheWriteError) {
    TempDir dir;
    const std::string path = (dir / "in.bin").string();
    testing::WriteFile(path, Bytes{1});
    FileStream in(path, FileMode::OpenReadExclusive);
    EXPECT_THROW(in.WriteBuffer("x", 1), EWriteError);
}

// Writers cannot be kept out on POSIX: a read-only stream ends where the file
// ended when it was opened, so a walk over zeros that keep coming still ends.
TEST(FileStreamReads, AFileThatGrowsAfterOpeningEndsWhereItEndedThen) {
    TempDir dir;
    const std::string path = (dir / "grow.ARC").string();
    testing::Bytes archive = testing::ArchiveBuilder().Add("A", 10, 10).Build();
    archive.resize(archive.size() + 100, 0);  // four empty entries of 25 zero bytes
    testing::WriteFile(path, archive);
    FileStream stream(path, FileMode::OpenReadExclusive);
    {
        std::ofstream more(path, std::ios::binary | std::ios::app);
        const std::string zeros(std::size_t{1} << 20, '\0');
        more.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(archive.size()));
    archive::EntryList list;
    archive::WalkSummary walk;
    archive::TCompress().ScanArchiveStream(stream, list, &walk);
    EXPECT_EQ(list.Count(), 5u);
    EXPECT_EQ(walk.ArchiveEnd, static_cast<std::int64_t>(archive.size()));
    EXPECT_EQ(walk.End, archive::WalkEnd::EndOfData);

    ASSERT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
    std::vector<std::uint8_t> all(archive.size() + 4096);
    EXPECT_EQ(stream.Read(all.data(), all.size()), archive.size());
}

// Read-ahead buffers that cannot be had: none at all, or none beyond the first.
AlignedBuffer NoMemory(std::size_t) noexcept { return {}; }

int firstOnlyCalls = 0;
AlignedBuffer FirstOnly(std::size_t size) noexcept {
    return firstOnlyCalls++ == 0 ? TryAllocateAligned(size) : AlignedBuffer{};
}

// Random reads and seeks must deliver exactly what the file holds, whatever
// the buffer happens to contain, and whether or not memory for it can be had:
// a read that cannot raise must not report the end of the file instead.
TEST(FileStreamReads, RandomReadsAndSeeksMatchTheFile) {
    TempDir dir;
    const std::string path = (dir / "data.bin").string();
    const Bytes content = Pattern(std::size_t{3} * 1024 * 1024 + 17);
    testing::WriteFile(path, content);

    const std::pair<const char*, FileStream::BufferAllocator> allocators[] = {
        {"memory to spare", TryAllocateAligned}, {"no memory", NoMemory}, {"the first buffer only", FirstOnly}};
    for (const auto& [label, allocator] : allocators) {
        SCOPED_TRACE(label);
        firstOnlyCalls = 0;
        FileStream stream(path, FileMode::OpenReadExclusive, allocator);
        ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(content.size()));

        std::mt19937 random(42);
        std::vector<std::uint8_t> got(std::size_t{2} * 1024 * 1024);
        std::int64_t position = 0;
        for (int step = 0; step < 2000; ++step) {
            switch (random() % 4) {
                case 0: position = stream.Seek(static_cast<std::int64_t>(random() % (content.size() + 100)), SeekOrigin::Beginning); break;
                case 1: {
                    const std::int64_t target = stream.Seek(static_cast<std::int64_t>(random() % 20000) - 10000, SeekOrigin::Current);
                    if (target >= 0) position = target;
                    break;
                }
                default: break;
            }
            const std::size_t count = random() % 8 == 0 ? random() % got.size() : random() % 5000;
            const std::size_t n = stream.Read(got.data(), count);
            const std::size_t expected =
                position >= static_cast<std::int64_t>(content.size()) ? 0 : std::min<std::size_t>(count, content.size() - static_cast<std::size_t>(position));
            ASSERT_EQ(n, expected) << "step " << step << " at " << position << " reading " << count;
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), content.begin() + static_cast<std::ptrdiff_t>(position)))
                << "step " << step << " at " << position;
            position += static_cast<std::int64_t>(n);
            ASSERT_EQ(stream.Position(), position);
        }
    }
}

TEST(FileStreamReads, WithoutMemoryForTheBufferByteByByteReadsStillReachTheEnd) {
    TempDir dir;
    const std::string path = (dir / "small.bin").string();
    const Bytes content = Pattern(10000);
    testing::WriteFile(path, content);
    FileStream stream(path, FileMode::OpenReadExclusive, NoMemory);
    Bytes got;
    std::uint8_t byte = 0;
    while (stream.Read(&byte, 1) == 1) got.push_back(byte);
    EXPECT_EQ(got, content);
    EXPECT_GE(stream.FetchCount(), content.size()) << "each byte straight from the file";
}

TEST(FileStreamReads, SequentialSmallReadsTakeFewSystemCalls) {
    TempDir dir;
    const std::string path = (dir / "seq.bin").string();
    testing::WriteFile(path, Pattern(std::size_t{8} * 1024 * 1024));
    FileStream stream(path, FileMode::OpenReadExclusive);
    std::uint8_t chunk[25];
    while (stream.Read(chunk, sizeof chunk) == sizeof chunk) {
    }
    // 4 KiB doubling to 1 MiB: 9 fetches reach 1 MiB, then 1 MiB each, plus the final empty one.
    EXPECT_LE(stream.FetchCount(), 20u) << "read-ahead did not grow";
}

TEST(FileStreamReads, SkippingLargeDataDoesNotReadIt) {
    TempDir dir;
    const std::string path = (dir / "skip.bin").string();
    const std::size_t stride = std::size_t{1024} * 1024;
    testing::WriteFile(path, Pattern(64 * stride));
    FileStream stream(path, FileMode::OpenReadExclusive);
    std::uint8_t header[33];
    for (std::size_t record = 0; record < 64; ++record) {
        stream.Seek(static_cast<std::int64_t>(record * stride), SeekOrigin::Beginning);
        ASSERT_EQ(stream.Read(header, sizeof header), sizeof header);
    }
    EXPECT_LE(stream.BytesFetched(), 64 * FileStream::kMinReadAhead) << "jumps must start the read-ahead small again";
}

}  // namespace
}  // namespace vexmira::support
