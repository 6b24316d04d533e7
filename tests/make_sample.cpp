// vexmira_sample: writes the files the demo and the scan benchmark run on.
//
//   vexmira_sample carrier OUT      an executable-looking stub with an archive appended
//   vexmira_sample archive OUT      the same archive on its own
//   vexmira_sample noise OUT BYTES  random bytes that hold no signature
//   vexmira_sample tail OUT BYTES   a stub, then an archive whose one entry's
//                                   stored data is BYTES random bytes
//   vexmira_sample filler NAME OUT BYTES  BYTES of a dense filler (sp, spi, spis,
//                                   spis1a, rejected, archives) repeated
//   vexmira_sample many OUT COUNT   an archive of COUNT entries named FILE0000000.DAT
//                                   and so on, without stored data (37 bytes each)
//   vexmira_sample hostile OUT      a carrier built to mislead: a CUS archive the
//                                   locator passes over, one with control bytes and
//                                   Latin-1 in names, a method out of range and
//                                   zero padding after it, and a header whose
//                                   archive type the reader refuses
//   vexmira_sample sparse OUT SIZE OFFSET
//                                   a SIZE-byte file, mostly holes, with the sample
//                                   archive at OFFSET; its last entry's stored data
//                                   (a hole) runs one byte past the end of the file,
//                                   so the archive plausibly ends before it

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/archive_builder.hpp"

namespace {

using vexmira::testing::ArchiveBuilder;
using vexmira::testing::Bytes;
using vexmira::testing::EntrySpec;

constexpr std::size_t kStubSize = 40000;

// Entries of every kind the listing shows: each method, a locked one, an empty one.
ArchiveBuilder SampleArchive() {
    ArchiveBuilder builder;
    builder.Add("README.TXT", 5120, 2210, 4)
        .Add("SETUP.INI", 812, 530, 1)
        .Add("PROGRAM.EXE", 145408, 61044, 2)
        .Add("LICENSE.TXT", 18322, 7011, 4, true)
        .Add("EMPTY.LOG", 0, 0, 0)
        .Add("LOGO.BMP", 30054, 30054, 0)
        .Add(EntrySpec{.name = "ICONS.DAT", .full_size = 9000, .compressed_size = 4100, .method = 3, .long2 = 0x5A17,
                       .word6 = 7, .long17 = 0xC0FFEE});
    return builder;
}

std::ofstream Open(const std::filesystem::path& path) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path.string());
    return out;
}

void Write(std::ofstream& out, const Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Written entry by entry: millions of entries never sit in memory at once.
void WriteMany(std::ofstream& out, std::uint64_t count) {
    Bytes header = ArchiveBuilder().Build();
    Write(out, header);
    Bytes entry;
    char name[16];
    for (std::uint64_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "FILE%07llu.DAT", static_cast<unsigned long long>(i % 10000000));
        const auto fullSize = static_cast<std::int64_t>((i * 7919) % 100000);
        Bytes one = ArchiveBuilder()
                        .Add(EntrySpec{.name = name, .full_size = fullSize, .compressed_size = 0,
                                       .method = static_cast<std::uint8_t>(1 + i % 4), .flags = (i % 11 == 0) ? 1u : 0u})
                        .Build();
        entry.assign(one.begin() + static_cast<long>(header.size()), one.end());
        Write(out, entry);
    }
}

// What a reader of untrusted files meets: every row of the listing has a
// reason to be doubted, and the file holds more headers than archives.
Bytes HostileCarrier() {
    const Bytes passedOver = ArchiveBuilder().CompressId("CUS").Add("HIDDEN.BIN", 64, 64, 3).Build();
    const Bytes misleading = ArchiveBuilder()
                                 .Add("CONTROL\x07\x1B[2J.TXT", 100, 60, 4)
                                 .Add("caf\xE9 <b>&amp;</b> \"x\".txt", 4000, 1000, 2, true)
                                 .Add(EntrySpec{.name = "METHOD9.BIN", .full_size = 10, .compressed_size = 10, .method = 9})
                                 .Build();
    const Bytes refused = ArchiveBuilder().ArchiveType(7).Add("NEVER.TXT", 1, 1).Build();
    Bytes carrier = vexmira::testing::Carrier(3000, passedOver);
    carrier.resize(carrier.size() + 1000, 0x90);
    carrier.insert(carrier.end(), misleading.begin(), misleading.end());
    carrier.resize(carrier.size() + 64, 0);  // reads as empty entries
    carrier.resize(carrier.size() + 2000, 0x90);
    carrier.insert(carrier.end(), refused.begin(), refused.end());
    return carrier;
}

void WriteSparse(const std::filesystem::path& path, std::int64_t size, std::int64_t offset) {
    const std::int64_t sampleSize = static_cast<std::int64_t>(SampleArchive().Build().size());
    // The padding entry's header: 25 bytes and its name (33 when its size needs the extension words).
    const std::string paddingName = "PADDING.BIN";
    const std::int64_t headerSize = 25 + static_cast<std::int64_t>(paddingName.size());
    std::int64_t padding = size - offset - sampleSize - headerSize + 1;
    if (padding > 0x7FFFFFFF) padding -= 8;
    if (padding < 0) throw std::runtime_error("the archive does not fit below SIZE");
    const Bytes archive = SampleArchive()
                              .Add(EntrySpec{.name = paddingName, .full_size = padding, .compressed_size = padding,
                                             .method = 0, .data_bytes = 0})
                              .Build();
    std::ofstream out = Open(path);
    out.write("MZ", 2);
    out.seekp(offset);
    Write(out, archive);
    out.seekp(size - 1);
    out.put('\0');
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Written a piece at a time that holds whole units, so the pattern runs on.
void WriteRepeated(std::ofstream& out, const Bytes& unit, std::uint64_t bytes) {
    const Bytes piece = vexmira::testing::Repeated(unit, unit.size() * ((std::size_t{1} << 20) / unit.size()));
    for (std::uint64_t left = bytes; left > 0 && out;) {
        const std::uint64_t n = std::min<std::uint64_t>(left, piece.size());
        out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
        left -= n;
    }
}

int Usage() {
    std::cerr << "usage: vexmira_sample carrier|archive|hostile OUT\n"
                 "       vexmira_sample noise|tail|many OUT BYTES|COUNT\n"
                 "       vexmira_sample sparse OUT SIZE OFFSET\n"
                 "       vexmira_sample filler NAME OUT BYTES\n";
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string_view mode = argv[1];
    const std::filesystem::path path = argv[2];
    try {
        if (mode == "filler" && argc == 5) {
            const auto& fillers = vexmira::testing::ScanFillers();
            const auto filler = std::find_if(fillers.begin(), fillers.end(), [&](const auto& f) { return f.name == argv[2]; });
            if (filler == fillers.end()) return Usage();
            std::ofstream out = Open(argv[3]);
            WriteRepeated(out, filler->unit, std::stoull(argv[4]));
            return out.good() ? 0 : 1;
        }
        if ((mode == "carrier" || mode == "archive") && argc == 3) {
            const Bytes archive = SampleArchive().Build();
            std::ofstream out = Open(path);
            Write(out, mode == "carrier" ? vexmira::testing::Carrier(kStubSize, archive) : archive);
            return out.good() ? 0 : 1;
        }
        if (mode == "hostile" && argc == 3) {
            std::ofstream out = Open(path);
            Write(out, HostileCarrier());
            return out.good() ? 0 : 1;
        }
        if (mode == "sparse" && argc == 5) {
            WriteSparse(path, std::stoll(argv[3]), std::stoll(argv[4]));
            return 0;
        }
        if (mode == "many" && argc == 4) {
            std::ofstream out = Open(path);
            WriteMany(out, std::stoull(argv[3]));
            return out.good() ? 0 : 1;
        }
        if ((mode == "noise" || mode == "tail") && argc == 4) {
            const std::uint64_t bytes = std::stoull(argv[3]);
            std::ofstream out = Open(path);
            if (mode == "tail") {
                const auto stored = static_cast<std::int64_t>(bytes);
                const Bytes archive =
                    ArchiveBuilder()
                        .Add(EntrySpec{.name = "PAYLOAD.BIN", .full_size = stored, .compressed_size = stored, .data_bytes = 0})
                        .Build();
                Write(out, vexmira::testing::Carrier(kStubSize, archive));
            }
            vexmira::testing::WriteNoise(out, bytes);
            return out.good() ? 0 : 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "vexmira_sample: " << error.what() << '\n';
        return 1;
    }
    return Usage();
}
