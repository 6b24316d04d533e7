// Locator speed on 1 GiB files in the page cache: the whole-file scan of a
// file without a signature, beside plain 1 MiB reads of the same file (what
// `dd bs=1M` does), and the side-file copy of a 1 GiB tail.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/aligned_buffer.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/file_stream.hpp"
#include "support/memory_stream.hpp"
#include "support/path.hpp"
#include "tests/archive_builder.hpp"

namespace {

using namespace vexmira;

constexpr std::int64_t kFileSize = std::int64_t{1} << 30;
constexpr std::size_t kStubSize = 40000;

class NullDisplay final : public locator::Display {
public:
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
};

const testing::TempDir& BenchDir() {
    static const testing::TempDir dir;
    return dir;
}

// Writes the file back and reads it once, so every timed run finds it in the
// page cache and no copy waits behind the write-back of the files made here.
void Warm(const std::string& path) {
    ::sync();
    support::FileStream stream(path, support::FileMode::OpenReadExclusive);
    const auto chunk = std::make_unique<std::uint8_t[]>(std::size_t{1} << 20);
    while (stream.Read(chunk.get(), std::size_t{1} << 20) > 0) {
    }
}

const std::string& NoiseFile() {
    static const std::string path = [] {
        const std::string file = (BenchDir() / "noise.bin").string();
        std::ofstream out(file, std::ios::binary);
        testing::WriteNoise(out, static_cast<std::uint64_t>(kFileSize));
        out.close();
        Warm(file);
        return file;
    }();
    return path;
}

// A stub, then an archive whose one entry's stored data is 1 GiB of noise.
const std::string& TailFile() {
    static const std::string path = [] {
        const std::string file = (BenchDir() / "tail.exe").string();
        std::ofstream out(file, std::ios::binary);
        const testing::Bytes archive =
            testing::ArchiveBuilder()
                .Add(testing::EntrySpec{.name = "PAYLOAD.BIN", .full_size = kFileSize, .compressed_size = kFileSize,
                                        .data_bytes = 0})
                .Build();
        const testing::Bytes head = testing::Carrier(kStubSize, archive);
        out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        testing::WriteNoise(out, static_cast<std::uint64_t>(kFileSize));
        out.close();
        Warm(file);
        return file;
    }();
    return path;
}

// The baseline: 1 MiB reads into an aligned buffer, nothing examined.
void BM_Read1MiB(benchmark::State& state) {
    const std::string& path = NoiseFile();
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const support::AlignedBuffer chunk = support::AllocateAligned(kChunk);
    for (auto _ : state) {
        support::FileStream stream(path, support::FileMode::OpenReadExclusive);
        while (stream.Read(chunk.get(), kChunk) > 0) {
        }
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_Read1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Rip_ARC_Archive over the whole file: every 4096-byte block, no side file.
void BM_ScanWithoutSignature(benchmark::State& state) {
    const std::string& path = NoiseFile();
    NullDisplay display;
    for (auto _ : state) {
        if (locator::Rip_ARC_Archive(path, display) != -1) state.SkipWithError("the noise holds a signature");
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_ScanWithoutSignature)->Unit(benchmark::kMillisecond)->UseRealTime();

// The block scan alone, on bytes in memory: what the search costs without I/O.
void BM_BlockScanInMemory(benchmark::State& state) {
    constexpr std::size_t kSize = std::size_t{16} << 20;  // fits the cache: the search, not the memory
    std::ostringstream noise;
    testing::WriteNoise(noise, kSize);
    const std::string bytes = noise.str();
    support::MemoryStream stream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    for (auto _ : state) {
        stream.Seek(0, support::SeekOrigin::Beginning);
        benchmark::DoNotOptimize(locator::FindArchive(stream, stream.Size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSize));
}
BENCHMARK(BM_BlockScanInMemory)->Unit(benchmark::kMillisecond);

// Rip_ARC_Archive on a 1 GiB tail: the signature is in the 10th block, so
// this is the side-file copy. The side file is removed outside the timing.
void BM_SideFileCopy(benchmark::State& state) {
    const std::string& path = TailFile();
    const std::string side = support::SideFilePath(path);
    NullDisplay display;
    for (auto _ : state) {
        if (locator::Rip_ARC_Archive(path, display) != static_cast<std::int64_t>(kStubSize)) {
            state.SkipWithError("archive not found where it was written");
        }
        state.PauseTiming();
        std::filesystem::remove(side);
        ::sync();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}
// The first copies after the files were made run slower while the system
// settles; several runs give the steady figure.
BENCHMARK(BM_SideFileCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace

BENCHMARK_MAIN();
