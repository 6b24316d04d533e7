// Writes the reader fuzzer's seed corpus: valid archives of every shape the
// builder can make, and a few broken ones. Each file starts with the control byte.

#include <iostream>

#include "tests/archive_builder.hpp"

using namespace vexmira::testing;

namespace {

void Seed(const std::filesystem::path& dir, const std::string& name, std::uint8_t control, const Bytes& archive) {
    Bytes bytes{control};
    bytes.insert(bytes.end(), archive.begin(), archive.end());
    WriteFile(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_seeds DIR\n";
        return 64;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    Seed(dir, "minimal", 0, ArchiveBuilder().Add("", 0, 0).Build());
    Seed(dir, "several", 0,
         ArchiveBuilder().Add("README.TXT", 100, 40, 4).Add("EMPTY", 0, 0, 0).Add("LOCKED.DAT", 9, 9, 1, true).Build());
    Seed(dir, "extended", 0,
         ArchiveBuilder().SizeValue(3000000000).Add(EntrySpec{.name = "BIG", .full_size = 5000000000, .compressed_size = 4,
                                                              .data_bytes = 4}).Add("AFTER", 1, 1).Build());
    Seed(dir, "custom-id", 0x80, ArchiveBuilder().CompressId("ABC").Add("X", 1, 1).Build());
    Seed(dir, "carrier", 16, Carrier(16, ArchiveBuilder().Add("IN.EXE", 50, 20, 2).Build()));
    Seed(dir, "negative-size", 0,
         ArchiveBuilder().Add(EntrySpec{.name = "N", .full_size = 1, .compressed_size = -26, .data_bytes = 0}).Add("Z", 1, 0).Build());
    Seed(dir, "bad-type", 0, ArchiveBuilder().ArchiveType(0).Add("X", 1, 1).Build());
    // Entries each the one before it moved on: the folded report's runs.
    ArchiveBuilder repeated;
    for (int k = 0; k < 5; ++k) repeated.Add("AGAIN.DAT", 7, 3, 1);
    repeated.Add("OTHER", 2, 2).Add("AGAIN.DAT", 7, 3, 1).Add("AGAIN.DAT", 7, 3, 1);
    Seed(dir, "repeated", 0, repeated.Build());
    Seed(dir, "bad-name-length", 0, ArchiveBuilder().Add(EntrySpec{.name = "Q", .name_length = -5}).Build());
    return 0;
}
