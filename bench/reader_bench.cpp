// Listing speed of the reader over files in the page cache, and how much of
// an archive with large stored data the listing actually reads.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>

#include "archive/compress.hpp"
#include "support/file_stream.hpp"
#include "tests/archive_builder.hpp"

namespace {

using namespace vexmira;

const testing::TempDir& BenchDir() {
    static const testing::TempDir dir;
    return dir;
}

// 1,000,000 entries of 16-byte names and 8 bytes of stored data each.
const std::string& ManyEntriesArchive() {
    static const std::string path = [] {
        testing::ArchiveBuilder builder;
        char name[32];
        for (int i = 0; i < 1000000; ++i) {
            std::snprintf(name, sizeof name, "DIR\\F%07d.DAT", i);
            builder.Add(name, 100 + i % 1000, 8, static_cast<std::uint8_t>(i % 5), i % 7 == 0);
        }
        const std::string file = (BenchDir() / "many.ARC").string();
        testing::WriteFile(file, builder.Build());
        return file;
    }();
    return path;
}

// 1,000 entries of 1 MiB stored data each, written sparse: only headers and names hold bytes.
const std::string& LargeDataArchive() {
    static const std::string path = [] {
        constexpr std::int64_t kData = std::int64_t{1024} * 1024;
        const std::string file = (BenchDir() / "large.ARC").string();
        std::ofstream out(file, std::ios::binary);
        const testing::Bytes header = testing::ArchiveBuilder().Build();
        out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        std::int64_t offset = static_cast<std::int64_t>(header.size());
        for (int i = 0; i < 1000; ++i) {
            testing::EntrySpec entry{.name = "PART" + std::to_string(i) + ".BIN", .full_size = 3 * kData,
                                     .compressed_size = kData, .data_bytes = 0};
            testing::ArchiveBuilder one;
            one.Add(entry);
            const testing::Bytes bytes = one.Build();
            out.seekp(offset);
            out.write(reinterpret_cast<const char*>(bytes.data()) + 21, static_cast<std::streamsize>(bytes.size() - 21));
            offset += static_cast<std::int64_t>(bytes.size() - 21) + kData;
        }
        out.close();
        std::filesystem::resize_file(file, static_cast<std::uintmax_t>(offset));
        return file;
    }();
    return path;
}

void BM_ListManyEntries(benchmark::State& state) {
    const std::string& path = ManyEntriesArchive();
    archive::TCompress reader;
    archive::EntryList list;
    for (auto _ : state) {
        archive::TCompress::FreeFileList(&list);
        reader.ScanArchiveFile(path, list);
        benchmark::DoNotOptimize(list.Count());
    }
    if (list.Count() != 1000000) state.SkipWithError("wrong entry count");
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(list.Count()));
}
BENCHMARK(BM_ListManyEntries)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListLargeStoredData(benchmark::State& state) {
    const std::string& path = LargeDataArchive();
    archive::TCompress reader;
    double fraction = 0;
    std::uint64_t fetches = 0;
    for (auto _ : state) {
        support::FileStream stream(path, support::FileMode::OpenReadExclusive);
        archive::EntryList list;
        reader.ScanArchiveStream(stream, list);
        if (list.Count() != 1000) state.SkipWithError("wrong entry count");
        fraction = static_cast<double>(stream.BytesFetched()) / static_cast<double>(stream.Size());
        fetches = stream.FetchCount();
    }
    state.counters["read_percent"] = 100 * fraction;
    state.counters["system_reads"] = static_cast<double>(fetches);
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ListLargeStoredData)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
