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

    // For --all planning (the control byte's bit 0 carves, bit 1 to the walk's end):
    // archives over and over whose walks meet, stop or run to the end.
    const Bytes minimal =
        ArchiveBuilder().Add(EntrySpec{.name = "", .full_size = 0, .compressed_size = 0, .data_bytes = 0}).Build();
    Seed(dir, "all-minimal", 1, Repeated(minimal, minimal.size() * 40));
    const Bytes chained = ArchiveBuilder()
                              .Add(EntrySpec{.name = "CHAINED.DAT", .full_size = 21, .compressed_size = 21, .method = 0,
                                             .data_bytes = 0})
                              .Build();
    Seed(dir, "all-chained", 1, Carrier(40, Repeated(chained, chained.size() * 30)));
    Seed(dir, "all-chained-walk-end", 3, Repeated(chained, chained.size() * 12));
    Seed(dir, "all-refused", 0, Repeated({'S', 'P', 'I', 'S', 0x1A, 'L', 'Z', 'H', 0}, 900));
    // An entry that stores a whole archive, and one after it.
    const Bytes inner = ArchiveBuilder().Add("A.TXT", 5, 5, 0).Add("B.TXT", 3, 3, 0).Build();
    Bytes outer = ArchiveBuilder()
                .Add(EntrySpec{.name = "INNER.ARC", .full_size = static_cast<std::int64_t>(inner.size()),
                               .compressed_size = static_cast<std::int64_t>(inner.size()), .method = 0, .data_bytes = 0})
                .Add("AFTER.TXT", 4, 4, 0)
                .Build();
    outer.insert(outer.begin() + 21 + 25 + 9, inner.begin(), inner.end());
    Seed(dir, "all-nested", 1, outer);
    return 0;
}
