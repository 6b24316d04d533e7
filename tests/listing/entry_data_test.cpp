// --hash: the digest and entropy of exactly the stored bytes the builder
// wrote, entries whose data runs past the end, and FILE's own digest.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listing/digest.hpp"
#include "listing/entry_data.hpp"
#include "listing/examine.hpp"
#include "support/memory_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::listing {
namespace {

struct Seen {
    std::string Name;
    std::int64_t HeaderOffset = 0;
    StoredData Data;
};

class DataSink final : public ListingSink {
public:
    std::vector<Seen> Entries;
    std::optional<std::string> InputSha256;
    bool PlainEntry = false;  // an entry came without its data

    void Begin(const ListingHead& head) override { InputSha256 = head.InputSha256; }
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {
        PlainEntry = true;
    }
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info, std::optional<std::string_view>,
                       const StoredData& data) override {
        Entries.push_back({std::string(name), info.HeaderOffset, data});
    }
    void End(const ListingHead&, const ListingEnd&) override {}
};

std::string Hex(const testing::Bytes& bytes, std::int64_t from, std::int64_t size) {
    return Sha256Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()) + from, static_cast<std::size_t>(size)));
}

TEST(StoredData, DigestsAreOfTheStoredBytesWhereverTheArchiveLies) {
    testing::ArchiveBuilder archive;
    archive.Add("A.TXT", 300, 300, 0).Add("B.BIN", 900, 77, 4, true).Add("EMPTY", 0, 0, 0);
    const testing::Bytes built = archive.Build();
    for (const std::size_t prefix : {std::size_t{0}, std::size_t{40000}}) {
        const testing::Bytes file = prefix == 0 ? built : testing::Carrier(prefix, built, 5);
        support::MemoryStream input(file);
        Options options;
        options.Input = &input;
        options.Hashes = true;
        DataSink sink;
        ASSERT_EQ(Examine(prefix == 0 ? "x.ARC" : "x.exe", options, sink), Outcome::Listed);
        EXPECT_FALSE(sink.PlainEntry);
        ASSERT_EQ(sink.Entries.size(), 3U);
        EXPECT_EQ(sink.InputSha256, Hex(file, 0, static_cast<std::int64_t>(file.size())));
        const std::int64_t base = static_cast<std::int64_t>(prefix);
        // Data follows the 25-byte header and the name.
        EXPECT_EQ(sink.Entries[0].Data.Sha256, Hex(file, base + archive.HeaderOffset(0) + 25 + 5, 300)) << prefix;
        EXPECT_EQ(sink.Entries[1].Data.Sha256, Hex(file, base + archive.HeaderOffset(1) + 25 + 5, 77)) << prefix;
        EXPECT_EQ(sink.Entries[2].Data.Sha256, Sha256Hex("")) << prefix;
        EXPECT_EQ(sink.Entries[2].Data.EntropyHundredths, 0);
        for (const Seen& seen : sink.Entries) EXPECT_FALSE(seen.Data.Missing) << seen.Name;
    }
}

TEST(StoredData, AnEntryPastTheEndHasNoDigestAndSaysWhy) {
    testing::ArchiveBuilder archive;
    archive.Add("WHOLE", 10, 10, 0).Add(testing::EntrySpec{.name = "CUT", .full_size = 500, .compressed_size = 500,
                                                         .method = 0, .data_bytes = 499});
    support::MemoryStream input(archive.Build());
    Options options;
    options.Input = &input;
    options.Hashes = true;
    DataSink sink;
    Examine("cut.ARC", options, sink);
    ASSERT_EQ(sink.Entries.size(), 2U);
    EXPECT_FALSE(sink.Entries[0].Data.Missing);
    EXPECT_EQ(sink.Entries[1].Data.Missing, kStoredDataPastEnd);
    EXPECT_TRUE(sink.Entries[1].Data.Sha256.empty());
}

// The range check at its edge: data ending exactly at the end is whole, one
// byte more is not, and a size that would wrap is refused without wrapping.
TEST(StoredData, RangeEndsAtTheFileSizeAndNeverWraps) {
    archive::TCompressedFileInfo info;
    info.HeaderOffset = 100;
    info.CompressedSize = 875;  // data from 125 + 0-byte name
    EXPECT_FALSE(StoredRangeOf(info, 0, 1000).Missing);
    EXPECT_EQ(StoredRangeOf(info, 0, 1000).Start, 125);
    info.CompressedSize = 876;
    EXPECT_TRUE(StoredRangeOf(info, 0, 1000).Missing);
    info.CompressedSize = std::numeric_limits<std::int64_t>::max() - 50;
    EXPECT_TRUE(StoredRangeOf(info, 0, 1000).Missing);
    info.CompressedSize = -1;
    EXPECT_TRUE(StoredRangeOf(info, 0, 1000).Missing);
}

TEST(StoredData, EntropyCountsBitsPerByte) {
    const auto entropy = [](const std::vector<std::uint8_t>& bytes) {
        ByteCounts counts;
        counts.Add(bytes.data(), bytes.size());
        return counts.EntropyHundredths();
    };
    std::vector<std::uint8_t> all(512);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(entropy(all), 800);
    EXPECT_EQ(entropy(std::vector<std::uint8_t>(64, 'a')), 0);
    EXPECT_EQ(entropy({'a', 'b', 'a', 'b'}), 100);
    EXPECT_EQ(entropy({'a', 'b', 'c', 'a'}), 150);  // -(1/2 log 1/2 + 2 * 1/4 log 1/4)
    EXPECT_EQ(entropy({}), 0);
    // Past the small-input path, with a tail that is not a multiple of four.
    std::vector<std::uint8_t> halves(10003, 'a');
    std::fill(halves.begin() + 5000, halves.begin() + 10000, 'b');
    ByteCounts split;
    split.Add(halves.data(), 10000);
    split.Add(halves.data() + 10000, 3);
    EXPECT_EQ(entropy(std::vector<std::uint8_t>(halves.begin(), halves.begin() + 10000)), 100);
    EXPECT_EQ(split.EntropyHundredths(), entropy(halves));
    EXPECT_EQ(HundredthsText(799), "7.99");
    EXPECT_EQ(HundredthsText(5), "0.05");
    EXPECT_EQ(HundredthsText(800), "8.00");
}

}  // namespace
}  // namespace vexmira::listing
