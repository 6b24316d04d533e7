// vexmira_integration_files DIR: writes the archives and carriers that the
// file, YARA and binwalk checks run on.
//
//   DIR/magic/   archives at offset 0 (valid, broken, without the signature)
//                and manifest.tsv: kind, file, identifier, entry count, first name
//   DIR/scan/    carriers holding candidates and near misses for the locator's tests
//   DIR/carve/   a carrier with archives followed by trailing data

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/archive_builder.hpp"

namespace {

namespace fs = std::filesystem;
using vexmira::testing::ArchiveBuilder;
using vexmira::testing::Bytes;
using vexmira::testing::EntrySpec;

constexpr std::size_t kStub = 5000;

Bytes Stub(std::size_t size) { return vexmira::testing::Carrier(size, {}); }

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes Noise(std::size_t count) {
    std::ostringstream out;
    vexmira::testing::WriteNoise(out, count);
    const std::string text = out.str();
    return Bytes(text.begin(), text.end());
}

// The bytes the locator tests from a position: the signature, the identifier's
// first letter, filler, then bytes 56 and 57. Not a readable archive.
Bytes Window(char letter, char byte56 = '.', char byte57 = '.') {
    Bytes out = {'S', 'P', 'I', 'S', 0x1A, static_cast<std::uint8_t>(letter)};
    out.resize(56, '.');
    out.push_back(static_cast<std::uint8_t>(byte56));
    out.push_back(static_cast<std::uint8_t>(byte57));
    return out;
}

void Place(Bytes& out, std::size_t at, const Bytes& bytes) {
    if (out.size() < at + bytes.size()) out.resize(at + bytes.size(), 0x90);
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

// An archive whose first name puts `name` bytes 10 and 11 at offsets 56 and 57.
Bytes Archive(const std::string& id, const std::string& first_name) {
    return ArchiveBuilder().CompressId(id).Add(first_name, 300, 120, 4).Add("SECOND.DAT", 10, 10, 0).Build();
}

class Magic {
public:
    explicit Magic(fs::path dir) : dir_(std::move(dir)), manifest_(dir_ / "manifest.tsv") {}

    void Valid(const std::string& file, const std::string& id, const ArchiveBuilder& builder, std::size_t entries,
               const std::string& first_name) {
        vexmira::testing::WriteFile(dir_ / file, builder.Build());
        manifest_ << "valid\t" << file << '\t' << id << '\t' << entries << '\t' << first_name << '\n';
    }
    void Other(const char* kind, const std::string& file, const Bytes& bytes) {
        vexmira::testing::WriteFile(dir_ / file, bytes);
        manifest_ << kind << '\t' << file << "\t\t\t\n";
    }

private:
    fs::path dir_;
    std::ofstream manifest_;
};

void WriteMagicFiles(const fs::path& dir) {
    fs::create_directories(dir);
    Magic magic(dir);
    const std::pair<const char*, const char*> names[] = {
        {"NON", "README.TXT"}, {"RLE", "SETUP.INI"}, {"LZH", "PROGRAM.EXE"}, {"CUS", "ICONS.DAT"}, {"LH5", "A"}};
    for (const auto& [id, name] : names) {
        magic.Valid(std::string("valid-") + id + ".ARC", id, ArchiveBuilder().CompressId(id).Add(name, 100, 40), 1, name);
    }
    magic.Valid("valid-long-name.ARC", "LZH", ArchiveBuilder().Add("DOCUMENTATION/INDEX.HTML", 10, 10, 0), 1,
                "DOCUMENTATION/INDEX.HTML");
    magic.Valid("valid-16-byte-name.ARC", "LZH", ArchiveBuilder().Add("0123456789ABCDEF", 1, 1, 0), 1, "0123456789ABCDEF");
    magic.Valid("valid-empty-name.ARC", "NON", ArchiveBuilder().CompressId("NON").Add("", 0, 0, 0), 1, "");
    magic.Valid("valid-header-only.ARC", "LH5", ArchiveBuilder().CompressId("LH5"), 0, "");
    // Header extension word: the first entry starts at 25.
    magic.Valid("valid-extended-header.ARC", "RLE",
                ArchiveBuilder().CompressId("RLE").SizeValue(3000000000).Add("BIG.HDR", 5, 5, 0), 1, "BIG.HDR");
    // A first entry above 2 GiB: its header has 33 bytes.
    magic.Valid("valid-extended-entry.ARC", "LH5",
                ArchiveBuilder().CompressId("LH5").Add(EntrySpec{.name = "HUGE.BIN", .full_size = 3000000000, .compressed_size = 8}),
                1, "HUGE.BIN");
    // The largest size a double holds exactly, and a lock bit other than bit 0.
    magic.Valid("valid-extended-2-53.ARC", "LH5",
                ArchiveBuilder().CompressId("LH5").Add(EntrySpec{.name = "EXACT.BIN", .full_size = (std::int64_t{1} << 53) - 1,
                                                                 .compressed_size = 3}),
                1, "EXACT.BIN");
    magic.Valid("valid-locked-bit-6.ARC", "LZH",
                ArchiveBuilder().Add(EntrySpec{.name = "LOCKED.TXT", .full_size = 10, .compressed_size = 4, .flags = 0x40}),
                1, "LOCKED.TXT");

    magic.Other("broken", "broken-type-0.ARC", ArchiveBuilder().ArchiveType(0).Add("A.TXT", 1, 1).Build());
    magic.Other("broken", "broken-type-2.ARC", ArchiveBuilder().ArchiveType(2).Add("A.TXT", 1, 1).Build());
    magic.Other("broken", "broken-unknown-id.ARC", ArchiveBuilder().CompressId("XYZ").Add("A.TXT", 1, 1).Build());
    magic.Other("broken", "broken-lower-case-id.ARC", ArchiveBuilder().CompressId("lzh").Add("A.TXT", 1, 1).Build());
    magic.Other("broken", "broken-cut.ARC", Bytes{'S', 'P', 'I', 'S', 0x1A, 'L', 'Z', 'H', 0, 0});

    const Bytes archive = Archive("LZH", "README.TXT");
    Bytes wrong_last = archive;
    wrong_last[4] = 0x1B;
    Bytes lower = archive;
    lower[3] = 's';
    Bytes shifted = {' '};
    Append(shifted, archive);
    magic.Other("none", "none-empty", {});
    magic.Other("none", "none-noise", Noise(4096));
    magic.Other("none", "none-carrier.exe", vexmira::testing::Carrier(40000, archive));
    magic.Other("none", "none-signature-1B.ARC", wrong_last);
    magic.Other("none", "none-signature-lower.ARC", lower);
    magic.Other("none", "none-shifted.ARC", shifted);
}

void WriteScanFiles(const fs::path& dir) {
    fs::create_directories(dir);
    // Several archives, a "CUS" one among them, in one block and in others.
    Bytes several = Stub(40000);
    Place(several, 40000, Archive("LZH", "README.TXT"));
    Place(several, 41000, Archive("NON", "LOGO.BMP"));
    Place(several, 90000, Archive("RLE", "SETUP.INI"));
    Place(several, 95000, Archive("CUS", "ICONS.DAT"));
    Place(several, 100000, Archive("LH5", "LICENSE.TXT"));
    Append(several, Noise(3000));
    vexmira::testing::WriteFile(dir / "several.exe", several);

    // Bytes 56 and 57 from the names' 11th and 12th characters.
    Bytes names = Stub(kStub);
    std::size_t at = kStub;
    for (const char* name : {"INSTALL.LOG", "PICTURE.JPG", "ABCDEFGHIJXP", "ABCDEFGHIJGP", "ABCDEFGHIJPG", "ABCDEFGHIJgp",
                             "ABCDEFGHIJ"}) {
        const Bytes archive = Archive("LZH", name);
        Place(names, at, archive);
        at += archive.size() + 777;
    }
    vexmira::testing::WriteFile(dir / "names.exe", names);

    // Positions around the block edges (blocks start at 0, 4032, 8064, 12096;
    // each is 4096 bytes long). No two windows lie 56 bytes apart, so no
    // signature puts a 'P' at another's byte 57.
    Bytes edges = Stub(16384);
    for (std::size_t p : {4026, 4032, 4050, 4090, 4096, 8058, 8064, 8122, 8128}) Place(edges, p, Window('L'));
    Place(edges, 12096 - 56, Window('N', 'G'));  // its 'G' opens the fourth block
    Place(edges, 12200, Window('R', '.', 'P'));
    Place(edges, 12300, Window('C'));
    Place(edges, 12400, Window('R'));
    Bytes line_break = Window('L', 'G');  // a line end is not the end of the file
    line_break[20] = '\n';
    Place(edges, 12500, line_break);
    vexmira::testing::WriteFile(dir / "edges.exe", edges);

    Bytes cus_only = Stub(kStub);
    Append(cus_only, Archive("CUS", "README.TXT"));
    vexmira::testing::WriteFile(dir / "cus-only.exe", cus_only);

    // Positions near the end of the file, where bytes 56 and 57 may be missing.
    const Bytes window = Window('L');
    auto tail = [&](const std::string& file, Bytes last) {
        Bytes bytes = Stub(kStub);
        Append(bytes, last);
        vexmira::testing::WriteFile(dir / file, bytes);
    };
    tail("tail-5.bin", Bytes(window.begin(), window.begin() + 5));
    tail("tail-6.bin", Bytes(window.begin(), window.begin() + 6));
    tail("tail-56.bin", Bytes(window.begin(), window.begin() + 56));
    const Bytes with_g = Window('L', 'G');
    tail("tail-57-G.bin", Bytes(with_g.begin(), with_g.begin() + 57));
    tail("tail-57.bin", Bytes(window.begin(), window.begin() + 57));
    tail("tail-58-P.bin", Window('L', '.', 'P'));
    tail("tail-58.bin", window);
    // A whole archive shorter than 58 bytes.
    tail("tail-archive.bin", ArchiveBuilder().CompressId("NON").Add("A.TXT", 0, 0, 0).Build());
}

void WriteCarveFiles(const fs::path& dir) {
    fs::create_directories(dir);
    Bytes carrier = Stub(40000);
    Append(carrier, ArchiveBuilder().CompressId("LH5").Add("README.TXT", 5120, 2210).Add("SETUP.INI", 812, 530, 1).Build());
    carrier.resize(carrier.size() + 1000, 0);  // zero padding reads as empty entries
    Append(carrier, Noise(3000));
    Append(carrier, ArchiveBuilder().CompressId("NON").Add("OTHER.TXT", 5, 5, 0).Add("MORE.TXT", 7, 7, 0).Build());
    // Something like a code-signing table: a length, revision, type, DER.
    Bytes table;
    vexmira::testing::Put32(table, 0x500);
    vexmira::testing::Put16(table, 0x0200);
    vexmira::testing::Put16(table, 0x0002);
    table.resize(0x500, 0x11);
    Append(carrier, table);
    Append(carrier, Noise(2000));
    // Passed over by the locator: reported, but its end is not known.
    Append(carrier, Archive("CUS", "ICONS.DAT"));
    Append(carrier, Noise(500));
    vexmira::testing::WriteFile(dir / "setup.exe", carrier);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vexmira_integration_files DIR\n";
        return 64;
    }
    try {
        const fs::path dir = argv[1];
        WriteMagicFiles(dir / "magic");
        WriteScanFiles(dir / "scan");
        WriteCarveFiles(dir / "carve");
    } catch (const std::exception& error) {
        std::cerr << "vexmira_integration_files: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
