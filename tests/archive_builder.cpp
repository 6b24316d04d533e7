#include "tests/archive_builder.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace vexmira::testing {

void Put8(Bytes& out, std::uint8_t value) { out.push_back(value); }

void Put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

SplitSize Split(std::int64_t size) {
    constexpr std::int64_t unit = std::int64_t{1} << 31;
    std::int64_t extension = size / unit;
    std::int64_t low = size % unit;
    if (low < 0) {  // keep the low word non-negative
        low += unit;
        --extension;
    }
    return {static_cast<std::int32_t>(low), static_cast<std::int32_t>(extension)};
}

ArchiveBuilder& ArchiveBuilder::Signature(Bytes five_bytes) {
    signature_ = std::move(five_bytes);
    return *this;
}
ArchiveBuilder& ArchiveBuilder::CompressId(std::string_view three_letters) {
    compress_id_ = std::string(three_letters);
    return *this;
}
ArchiveBuilder& ArchiveBuilder::ArchiveType(std::uint8_t type) {
    archive_type_ = type;
    return *this;
}
ArchiveBuilder& ArchiveBuilder::SizeValue(std::int64_t size) {
    size_value_ = size;
    return *this;
}
ArchiveBuilder& ArchiveBuilder::HeaderFlags(std::uint32_t flags) {
    header_flags_ = flags;
    return *this;
}
ArchiveBuilder& ArchiveBuilder::Long13(std::uint32_t value) {
    long13_ = value;
    return *this;
}
ArchiveBuilder& ArchiveBuilder::Add(EntrySpec entry) {
    entries_.push_back(std::move(entry));
    return *this;
}
ArchiveBuilder& ArchiveBuilder::Add(std::string name, std::int64_t full_size, std::int64_t compressed_size,
                                    std::uint8_t method, bool locked) {
    EntrySpec entry;
    entry.name = std::move(name);
    entry.full_size = full_size;
    entry.compressed_size = compressed_size;
    entry.method = method;
    entry.flags = locked ? 1 : 0;
    return Add(std::move(entry));
}

namespace {

bool IsExtended(const EntrySpec& entry) { return entry.extended.value_or(entry.full_size > 0x7FFFFFFF); }

std::uint64_t DataBytes(const EntrySpec& entry) {
    if (entry.data_bytes) return *entry.data_bytes;
    return entry.compressed_size > 0 ? static_cast<std::uint64_t>(entry.compressed_size) : 0;
}

// 64-bit: the stored data of one entry may exceed what a 32-bit size_t holds.
std::uint64_t EntrySize(const EntrySpec& entry) {
    return (IsExtended(entry) ? 33u : 25u) + std::uint64_t{entry.name.size()} + DataBytes(entry);
}

}  // namespace

Bytes ArchiveBuilder::Build() const {
    Bytes out;
    out.insert(out.end(), signature_.begin(), signature_.end());
    PutText(out, compress_id_);
    const SplitSize size = Split(size_value_);
    const bool header_extended = size.extension != 0 || (header_flags_ & 0x80) != 0;
    Put32(out, static_cast<std::uint32_t>(size.low));
    Put8(out, archive_type_);
    Put32(out, long13_);
    Put32(out, header_flags_ | (header_extended ? 0x80u : 0u));
    if (header_extended) Put32(out, static_cast<std::uint32_t>(size.extension));

    for (const EntrySpec& entry : entries_) {
        const bool extended = IsExtended(entry);
        const SplitSize full = extended ? Split(entry.full_size) : SplitSize{static_cast<std::int32_t>(entry.full_size), 0};
        const SplitSize stored =
            extended ? Split(entry.compressed_size) : SplitSize{static_cast<std::int32_t>(entry.compressed_size), 0};
        Put16(out, static_cast<std::uint16_t>(entry.name_length.value_or(static_cast<std::int16_t>(entry.name.size()))));
        Put32(out, entry.long2);
        Put16(out, entry.word6);
        Put32(out, static_cast<std::uint32_t>(full.low));
        Put32(out, static_cast<std::uint32_t>(stored.low));
        Put8(out, entry.method);
        Put32(out, entry.long17);
        Put32(out, entry.flags | (extended ? 0x80u : 0u));
        if (extended) {
            Put32(out, static_cast<std::uint32_t>(full.extension));
            Put32(out, static_cast<std::uint32_t>(stored.extension));
        }
        PutText(out, entry.name);
        const std::uint64_t data = DataBytes(entry);
        for (std::uint64_t i = 0; i < data; ++i) out.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    }
    return out;
}

std::int64_t ArchiveBuilder::HeaderOffset(std::size_t index) const {
    const SplitSize size = Split(size_value_);
    std::int64_t offset = (size.extension != 0 || (header_flags_ & 0x80) != 0) ? 25 : 21;
    for (std::size_t i = 0; i < index && i < entries_.size(); ++i) offset += static_cast<std::int64_t>(EntrySize(entries_[i]));
    return offset;
}

Bytes Carrier(std::size_t prefix_size, const Bytes& archive, std::size_t suffix_size) {
    Bytes out;
    out.reserve(prefix_size + archive.size() + suffix_size);
    for (std::size_t i = 0; i < prefix_size; ++i) {
        // "MZ" and then bytes that never spell the signature.
        out.push_back(i == 0 ? 'M' : i == 1 ? 'Z' : static_cast<std::uint8_t>(0x90 + (i % 5)));
    }
    out.insert(out.end(), archive.begin(), archive.end());
    out.insert(out.end(), suffix_size, 0);
    return out;
}

const std::vector<Filler>& ScanFillers() {
    static const std::vector<Filler> fillers = [] {
        Bytes rejected = {'S', 'P', 'I', 'S', 0x1A, 'L', 'Z', 'H'};
        rejected.resize(56, '.');
        rejected.push_back('G');
        rejected.push_back('P');
        // The entry's stored size runs over the next archive's header to its
        // entry, so a walk from any of them goes on to the end of the file.
        const Bytes archive = ArchiveBuilder()
                                  .Add(EntrySpec{.name = "REPEATED64BYTE.DAT", .full_size = 21, .compressed_size = 21,
                                                 .method = 0, .data_bytes = 0})
                                  .Build();
        if (archive.size() != 64) throw std::logic_error("the repeated archive must be 64 bytes");
        // A header and one empty entry: read as an entry header, the next
        // archive's header is an entry with a 20,563-byte name.
        const Bytes minimal =
            ArchiveBuilder().Add(EntrySpec{.name = "", .full_size = 0, .compressed_size = 0, .data_bytes = 0}).Build();
        if (minimal.size() != 46) throw std::logic_error("the minimal archive must be 46 bytes");
        return std::vector<Filler>{
            {"sp", {'S', 'P'}},
            {"spi", {'S', 'P', 'I'}},
            {"spis", {'S', 'P', 'I', 'S'}},
            {"spis1a", {'S', 'P', 'I', 'S', 0x1A}},
            {"rejected", rejected},
            {"archives", archive},
            {"minimal", minimal},
            {"refused", {'S', 'P', 'I', 'S', 0x1A, 'L', 'Z', 'H', 0}},
        };
    }();
    return fillers;
}

Bytes Repeated(const Bytes& unit, std::size_t size) {
    Bytes bytes(size);
    for (std::size_t k = 0; k < size; ++k) bytes[k] = unit[k % unit.size()];
    return bytes;
}

void WriteNoise(std::ostream& out, std::uint64_t count) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    Bytes chunk(kChunk);
    std::uint64_t state = 0x5EED;
    while (count > 0) {
        const std::size_t n = count < kChunk ? static_cast<std::size_t>(count) : kChunk;
        for (std::size_t i = 0; i < n; i += 8) {
            // splitmix64
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            for (std::size_t k = 0; k < 8 && i + k < n; ++k) {
                const auto byte = static_cast<std::uint8_t>(z >> (8 * k));
                chunk[i + k] = byte == 0x1A ? 0x1B : byte;
            }
        }
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        count -= n;
    }
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexmira-XXXXXX").string();
#ifdef _WIN32
    static unsigned counter = 0;
    path_ = std::filesystem::temp_directory_path() / ("vexmira-" + std::to_string(std::rand()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
#else
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace vexmira::testing
