// vexmira_wide_inputs: writes the files on which the 32-bit and the 64-bit
// tool must print the same, chosen where a 32-bit size_t or long would cut a
// value short: sizes and offsets past 2 GiB and 4 GiB, stored data that runs
// past the end, negative sizes, several archives in one carrier.
//
//   vexmira_wide_inputs DIR          the small files
//   vexmira_wide_inputs DIR huge     also huge.exe: sparse, an archive past 4 GiB

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "tests/archive_builder.hpp"

namespace {

using namespace vexmira::testing;

constexpr std::int64_t kGiB = std::int64_t{1} << 30;

ArchiveBuilder Sample() {
    ArchiveBuilder builder;
    builder.Add("README.TXT", 5120, 2210, 4)
        .Add("LICENSE.TXT", 18322, 7011, 4, true)
        .Add("EMPTY.LOG", 0, 0, 0)
        .Add(EntrySpec{.name = "ICONS.DAT", .full_size = 9000, .compressed_size = 4100, .method = 3,
                       .long2 = 0xFFFFFFFF, .word6 = 0xFFFF, .long17 = 0x80000000});
    return builder;
}

// Sizes that need the extension words; their stored data is not written, so
// the walk runs past the end after the first of them.
ArchiveBuilder WideSizes() {
    ArchiveBuilder builder;
    builder.SizeValue(5 * kGiB)
        .Add(EntrySpec{.name = "TINY", .full_size = 1, .compressed_size = 1})
        .Add(EntrySpec{.name = "3GB.BIN", .full_size = 3000000000, .compressed_size = 0, .method = 2})
        .Add(EntrySpec{.name = "5GB.BIN", .full_size = 5 * kGiB + 7, .compressed_size = 4 * kGiB + 3, .method = 4,
                       .data_bytes = 0});
    return builder;
}

// The archive ends the file: zero bytes after it would read as millions of
// empty entries.
void WriteHuge(const std::filesystem::path& path) {
    // Past 4 GiB, so any offset kept in 32 bits lands somewhere else.
    constexpr std::int64_t kOffset = 4 * kGiB + 4096 + 123;
    const Bytes archive = Sample().Build();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("MZ", 2);
    out.seekp(kOffset);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc < 2 || argc > 3 || (argc == 3 && std::string_view(argv[2]) != "huge")) {
        std::cerr << "usage: vexmira_wide_inputs DIR [huge]\n";
        return 64;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    WriteFile(dir / "SAMPLE.ARC", Sample().Build());
    WriteFile(dir / "setup.exe", Carrier(40000, Sample().Build(), 777));
    WriteFile(dir / "WIDE.ARC", WideSizes().Build());
    WriteFile(dir / "wide.exe", Carrier(5000, WideSizes().Build()));
    WriteFile(dir / "NEGATIVE.ARC",
              ArchiveBuilder()
                  .Add(EntrySpec{.name = "BACK", .full_size = 10, .compressed_size = -3 * kGiB, .data_bytes = 0})
                  .Add("NEVER", 1, 1)
                  .Build());
    Bytes several = Carrier(3000, Sample().Build());
    const Bytes second = WideSizes().Build();
    several.insert(several.end(), second.begin(), second.end());
    several.resize(several.size() + 5000, 0x90);
    const Bytes third = ArchiveBuilder().CompressId("RLE").Add("THIRD", 100, 50, 1).Build();
    several.insert(several.end(), third.begin(), third.end());
    WriteFile(dir / "several.exe", several);
    WriteFile(dir / "BADTYPE.ARC", ArchiveBuilder().ArchiveType(0).Add("X", 1, 1).Build());
    if (argc == 3) WriteHuge(dir / "huge.exe");
    return 0;
} catch (const std::exception& error) {
    std::cerr << "vexmira_wide_inputs: " << error.what() << "\n";
    return 1;
}
