#pragma once
// Builds archives and carriers byte by byte, including broken layouts, for tests,
// benchmarks, fuzz seeds and the demo sample.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vexmira::testing {

using Bytes = std::vector<std::uint8_t>;

void Put8(Bytes& out, std::uint8_t value);
void Put16(Bytes& out, std::uint16_t value);
void Put32(Bytes& out, std::uint32_t value);
void PutText(Bytes& out, std::string_view text);

// Splits a 64-bit size into low word and extension word so that
// low + extension * 2^31 == size (the low word stays within [0, 2^31)).
struct SplitSize {
    std::int32_t low;
    std::int32_t extension;
};
SplitSize Split(std::int64_t size);

struct EntrySpec {
    std::string name;
    std::int64_t full_size = 0;
    std::int64_t compressed_size = 0;  // also the count of data bytes written, unless data_bytes says otherwise
    std::uint8_t method = 4;
    std::uint32_t flags = 0;           // bit 7 is added automatically when extended
    std::uint32_t long2 = 0;
    std::uint16_t word6 = 0;
    std::uint32_t long17 = 0;
    // Writes bit 7 and both extension words; defaults to full_size > 0x7FFFFFFF.
    std::optional<bool> extended{};
    // Writes this NameLength instead of name.size() (the name bytes are still written).
    std::optional<std::int16_t> name_length{};
    // How many stored-data bytes actually follow the name; defaults to compressed_size.
    std::optional<std::uint64_t> data_bytes{};
};

class ArchiveBuilder {
public:
    ArchiveBuilder& Signature(Bytes five_bytes);
    ArchiveBuilder& CompressId(std::string_view three_letters);
    ArchiveBuilder& ArchiveType(std::uint8_t type);
    ArchiveBuilder& SizeValue(std::int64_t size);  // sets the extension word when it needs one
    ArchiveBuilder& HeaderFlags(std::uint32_t flags);
    ArchiveBuilder& Long13(std::uint32_t value);
    ArchiveBuilder& Add(EntrySpec entry);
    // Shorthand: a stored entry whose data is compressed_size bytes.
    ArchiveBuilder& Add(std::string name, std::int64_t full_size, std::int64_t compressed_size,
                        std::uint8_t method = 4, bool locked = false);

    Bytes Build() const;
    // Where entry i's header starts in Build()'s output.
    std::int64_t HeaderOffset(std::size_t index) const;

private:
    Bytes signature_ = {'S', 'P', 'I', 'S', 0x1A};
    std::string compress_id_ = "LZH";
    std::uint8_t archive_type_ = 1;
    std::int64_t size_value_ = 0;
    std::uint32_t header_flags_ = 0;
    std::uint32_t long13_ = 0;
    std::vector<EntrySpec> entries_;
};

// An executable-looking carrier: a fake "MZ" stub of prefix_size bytes, the
// archive, then suffix_size bytes of padding. The stub holds no signature.
Bytes Carrier(std::size_t prefix_size, const Bytes& archive, std::size_t suffix_size = 0);

// The dense inputs of the scan benchmark, each one unit repeated: runs of
// signature prefixes ("sp", "spi", "spis", "spis1a"), candidates that the
// G/P test rejects ("rejected"), 64-byte archives of one entry each
// ("archives"), every one a candidate whose walk runs to the file's end,
// 46-byte archives of one empty entry ("minimal"), and 9-byte candidates the
// reader refuses ("refused", archive type 'S').
struct Filler {
    std::string_view name;
    Bytes unit;
};
const std::vector<Filler>& ScanFillers();
// `size` bytes of the unit repeated (the last one cut short).
Bytes Repeated(const Bytes& unit, std::size_t size);

// Appends `count` pseudo-random bytes (fixed seed) to `out`. They never hold
// 0x1A, so no signature can occur in them: a scan of them reads everything.
void WriteNoise(std::ostream& out, std::uint64_t count);

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);

// A fresh directory, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const noexcept { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace vexmira::testing
