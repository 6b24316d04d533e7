// Rip_ARC_Archive on real files: what the display is told, the side file, and
// every file closed on every path.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "archive/compress.hpp"
#include "locator/locator.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/memory_stream.hpp"
#include "tests/locator/locator_helpers.hpp"

namespace vexmira::locator {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::Bytes;
using testing::Carrier;
using testing::ReadFile;
using testing::RecordingDisplay;
using testing::TempDir;
using testing::WriteFile;
using Events = std::vector<std::string>;

Bytes SampleArchive() {
    return ArchiveBuilder().Add("readme.txt", 1000, 400).Add("setup.ini", 50, 30, 1).Build();
}

std::vector<std::string> ListNames(const std::string& path) {
    archive::TCompress reader;
    archive::EntryList list;
    reader.ScanArchiveFile(path, list);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < list.Count(); ++i) names.emplace_back(list.Name(i));
    return names;
}

// The input is closed when it can be opened again without sharing.
bool IsClosed(const fs::path& path) {
    try {
        support::FileStream reopened(path.string(), support::FileMode::OpenReadExclusive);
        return true;
    } catch (const support::Exception&) {
        return false;
    }
}

std::string Side(const fs::path& input) { return input.string() + "$$$"; }

TEST(Rip, LowerCaseArcIsLocatedAtZeroAndCopiedWhole) {
    TempDir dir;
    const fs::path input = dir / "data.arc";
    const Bytes archive = SampleArchive();
    ASSERT_GE(archive.size(), 58u);
    WriteFile(input, archive);

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 0);
    const std::string size = std::to_string(archive.size());
    EXPECT_EQ(display.events, (Events{"range " + size, "position 0", "offset 00000000 - 0 Kb", "position " + size}));
    EXPECT_EQ(ReadFile(Side(input)), archive);
    EXPECT_EQ(ListNames(Side(input)), (std::vector<std::string>{"readme.txt", "setup.ini"}));
    EXPECT_TRUE(IsClosed(input));
    EXPECT_TRUE(IsClosed(Side(input)));
}

TEST(Rip, CarrierTailFromTheOffsetToTheEnd) {
    TempDir dir;
    const fs::path input = dir / "setup.exe";
    const Bytes carrier = Carrier(70000, SampleArchive(), 300);
    WriteFile(input, carrier);

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 70000);
    const std::string size = std::to_string(carrier.size());
    EXPECT_EQ(display.events, (Events{"range " + size, "position 0", "offset 00011170 - 68 Kb", "position " + size}));
    EXPECT_EQ(ReadFile(Side(input)), Bytes(carrier.begin() + 70000, carrier.end()));
}

TEST(Rip, NotFoundShowsTheMessageAndWritesNoSideFile) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{0}, std::size_t{10000}}) {
        const fs::path input = dir / ("plain" + std::to_string(size) + ".exe");
        WriteFile(input, Carrier(size, {}));
        RecordingDisplay display;
        EXPECT_EQ(Rip_ARC_Archive(input.string(), display), -1) << "size " << size;
        EXPECT_EQ(display.events, (Events{"range " + std::to_string(size), "position 0",
                                          "message File scanned , But NO TCompress ARC Archive found !",
                                          "offset Not found"}))
            << "size " << size;
        EXPECT_FALSE(fs::exists(Side(input))) << "size " << size;
        EXPECT_TRUE(IsClosed(input)) << "size " << size;
    }
}

TEST(Rip, ExistingSideFileIsReplacedNotAppended) {
    TempDir dir;
    const fs::path input = dir / "setup.exe";
    const Bytes carrier = Carrier(5000, SampleArchive());
    WriteFile(input, carrier);
    WriteFile(Side(input), Bytes(200000, 0xEE));

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 5000);
    EXPECT_EQ(ReadFile(Side(input)), Bytes(carrier.begin() + 5000, carrier.end()));
}

TEST(Rip, SideFileThatCannotBeCreated) {
    TempDir dir;
    const fs::path input = dir / "setup.exe";
    WriteFile(input, Carrier(5000, SampleArchive()));
    fs::create_directory(Side(input));

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 5000) << "the offset found before the error is kept";
    ASSERT_EQ(display.events.size(), 4u) << ::testing::PrintToString(display.events);
    EXPECT_EQ(display.events[2], "offset 00001388 - 4 Kb");
    const std::string expected = "message Except: Cannot create file \"" + support::AbsolutePath(Side(input)) + "\". ";
    EXPECT_EQ(display.events[3].substr(0, expected.size()), expected) << display.events[3];
    EXPECT_TRUE(IsClosed(input));
}

TEST(Rip, SideFileLinkedToTheInputNeverEmptiesIt) {
    TempDir dir;
    const fs::path input = dir / "setup.exe";
    const Bytes carrier = Carrier(5000, SampleArchive());
    WriteFile(input, carrier);
    fs::create_symlink(input, Side(input));

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 5000);
    ASSERT_FALSE(display.events.empty());
    const std::string expected = "message Except: Cannot create file \"" + support::AbsolutePath(Side(input)) + "\". ";
    EXPECT_EQ(display.events.back().substr(0, expected.size()), expected) << display.events.back();
    EXPECT_EQ(ReadFile(input), carrier);
    EXPECT_TRUE(IsClosed(input));

    // A hard link is the same file under another name, too.
    fs::remove(Side(input));
    fs::create_hard_link(input, Side(input));
    display.events.clear();
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), 5000);
    EXPECT_EQ(display.events.back().substr(0, expected.size()), expected) << display.events.back();
    EXPECT_EQ(ReadFile(input), carrier);
}

TEST(Rip, OnlyASideFileThisRunCreatedCounts) {
    TempDir dir;
    const fs::path input = dir / "setup.exe";
    WriteFile(input, Carrier(5000, SampleArchive()));
    RecordingDisplay display;
    RipOutcome outcome = RipArchive(input.string(), display);
    EXPECT_TRUE(outcome.SideCreated && outcome.Copied && !outcome.Failure);

    fs::remove(Side(input));
    fs::create_directory(Side(input));
    outcome = RipArchive(input.string(), display);
    EXPECT_EQ(outcome.Offset, 5000);
    EXPECT_FALSE(outcome.SideCreated) << "a directory in its place was taken for the side file";
    EXPECT_FALSE(outcome.Copied);
    EXPECT_TRUE(outcome.Failure);

    const fs::path plain = dir / "plain.exe";
    WriteFile(plain, Bytes(3000, 'x'));
    outcome = RipArchive(plain.string(), display);
    EXPECT_FALSE(outcome.SideCreated) << "nothing was located, yet a side file counts as created";
}

// Counts the steps of a copy.
class StepCounter final : public support::Stream {
public:
    std::size_t Read(void*, std::size_t) noexcept override { return 0; }
    std::int64_t Seek(std::int64_t, support::SeekOrigin) noexcept override { return 0; }
    std::int64_t Size() noexcept override { return total; }
    std::int64_t Position() const noexcept override { return total; }
    std::vector<std::size_t> steps;
    std::int64_t total = 0;

protected:
    std::size_t Write(const void*, std::size_t count) noexcept override {
        steps.push_back(count);
        total += static_cast<std::int64_t>(count);
        return count;
    }
};

support::AlignedBuffer NoMemory(std::size_t) noexcept { return {}; }

TEST(CopyBytes, FallsBackToFourKilobyteStepsWhenMemoryIsShort) {
    Bytes bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    {
        CopyBuffer shortOfMemory(NoMemory);
        EXPECT_EQ(shortOfMemory.Step(), 4096u);
        support::MemoryStream from(bytes);
        StepCounter to;
        EXPECT_EQ(CopyBytes(from, to, 1 << 30, shortOfMemory), 10000);
        EXPECT_EQ(to.steps, (std::vector<std::size_t>{4096, 4096, 1808}));
    }
    {
        CopyBuffer shortOfMemory(NoMemory);
        support::MemoryStream from(bytes);
        support::MemoryStream to;
        from.Seek(1000, support::SeekOrigin::Beginning);
        EXPECT_EQ(CopyBytes(from, to, 5000, shortOfMemory), 5000);
        EXPECT_EQ(to.Bytes(), Bytes(bytes.begin() + 1000, bytes.begin() + 6000));
    }
    CopyBuffer plenty;
    EXPECT_EQ(plenty.Step(), std::size_t{2} << 20);
    support::MemoryStream from(Bytes(5u << 20, 1));
    StepCounter to;
    EXPECT_EQ(CopyBytes(from, to, 1 << 30, plenty), 5 << 20);
    EXPECT_EQ(to.steps, (std::vector<std::size_t>{2u << 20, 2u << 20, 1u << 20}));
}

TEST(Rip, InputThatCannotBeOpened) {
    TempDir dir;
    const fs::path missing = dir / "missing.exe";
    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(missing.string(), display), -1);
    EXPECT_EQ(display.events, (Events{"message Except: Cannot open file \"" + support::AbsolutePath(missing.string()) +
                                      "\". No such file or directory"}))
        << "no progress and no offset text before the open";

    const fs::path busy = dir / "busy.exe";
    WriteFile(busy, Carrier(5000, SampleArchive()));
    {
        // Held as a writer of this system holds a file; a reader would share it.
        const int writer = open(busy.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(flock(writer, LOCK_EX), 0);
        display.events.clear();
        EXPECT_EQ(Rip_ARC_Archive(busy.string(), display), -1);
        close(writer);
        ASSERT_EQ(display.events.size(), 1u);
        EXPECT_EQ(display.events[0].rfind("message Except: Cannot open file \"", 0), 0u) << display.events[0];
    }
    EXPECT_FALSE(fs::exists(Side(busy)));
}

// A sparse carrier past every 32-bit limit: the archive sits at 2.5 GiB.
TEST(Rip, SlowArchiveBeyond2GiBInA3GiBCarrier) {
    TempDir dir;
    const fs::path input = dir / "huge.exe";
    constexpr std::int64_t kSize = std::int64_t{3} << 30;
    constexpr std::int64_t kOffset = std::int64_t{5} << 29;

    // The last entry's stored data runs to the end of the file, so the side
    // file lists exactly the entries written.
    ArchiveBuilder builder;
    builder.Add("first.bin", 100, 10);
    const std::int64_t restStored = kSize - kOffset - builder.HeaderOffset(1) - 25 - 8;
    builder.Add(testing::EntrySpec{.name = "rest.bin", .full_size = restStored, .compressed_size = restStored,
                                   .data_bytes = 0});
    const Bytes archive = builder.Build();
    {
        std::ofstream out(input, std::ios::binary);
        out.seekp(kOffset);
        out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
        ASSERT_TRUE(out.good());
    }
    fs::resize_file(input, static_cast<std::uintmax_t>(kSize));

    RecordingDisplay display;
    EXPECT_EQ(Rip_ARC_Archive(input.string(), display), kOffset);
    EXPECT_EQ(display.events,
              (Events{"range 3145728", "position 0", "offset A0000000 - 2621440 Kb", "position 3145728"}));
    EXPECT_EQ(fs::file_size(Side(input)), static_cast<std::uintmax_t>(kSize - kOffset));

    Bytes head(archive.size());
    std::ifstream side(Side(input), std::ios::binary);
    side.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, archive);
    side.close();

    archive::TCompress reader;
    archive::EntryList list;
    archive::WalkSummary summary;
    reader.ScanArchiveFile(Side(input), list, &summary);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Info(1).CompressedSize, restStored);
    EXPECT_EQ(summary.ArchiveEnd, kSize - kOffset);
}

}  // namespace
}  // namespace vexmira::locator
