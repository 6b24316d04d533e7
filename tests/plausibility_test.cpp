// Which entries cannot be real ones, and where an archive plausibly ends.

#include <gtest/gtest.h>

#include <limits>

#include "archive/plausibility.hpp"
#include "support/memory_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::archive {
namespace {

TEST(SuspectReason, EachRuleOfTheLayout) {
    const auto entry = [](std::int64_t full, std::int64_t stored, std::uint8_t method) {
        TCompressedFileInfo info;
        info.FullSize = full;
        info.CompressedSize = stored;
        info.Method = method;
        info.HeaderOffset = 21;
        return info;
    };
    struct Row {
        const char* what;
        std::string name;
        TCompressedFileInfo info;
        std::optional<std::string_view> reason;
    };
    constexpr std::int64_t kSize = 1000;
    const std::vector<Row> rows = {
        {"a plain entry", "A.TXT", entry(100, 50, 4), std::nullopt},
        {"a stored entry", "A.TXT", entry(50, 50, 0), std::nullopt},
        {"data up to the very end", "A", entry(2000, 1000 - 21 - 25 - 1, 2), std::nullopt},
        {"empty name", "", entry(0, 0, 0), "empty name"},
        {"control byte", "A\x01", entry(1, 1, 0), "control byte in name"},
        {"DEL", "A\x7F", entry(1, 1, 0), "control byte in name"},
        {"Latin-1 is fine", "caf\xE9", entry(1, 1, 0), std::nullopt},
        {"method 5", "A", entry(1, 1, 5), "method out of range"},
        {"negative full size", "A", entry(-1, 1, 1), "negative size"},
        {"negative stored size", "A", entry(1, -1, 1), "negative size"},
        {"one byte past the end", "A", entry(2000, 1000 - 21 - 25, 2), "data past end of file"},
        {"a size that would overflow", "A", entry(1, std::numeric_limits<std::int64_t>::max() - 10, 2),
         "data past end of file"},
        {"stored sizes differ", "A", entry(10, 9, 0), "stored size mismatch"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SuspectReason(row.name, row.info, kSize), row.reason) << row.what;
    }
}

TEST(EntryDataStart, TheHeaderSizeFollowsTheFullSizeAndTheSumStopsShortOfWrapping) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    TCompressedFileInfo info;
    info.HeaderOffset = 100;
    info.FullSize = kLargestShortSize;
    EXPECT_EQ(EntryDataStart(info, 7), 100 + 25 + 7);
    info.FullSize = kLargestShortSize + 1;  // the extension words follow
    EXPECT_EQ(EntryDataStart(info, 7), 100 + 33 + 7);

    info.HeaderOffset = kMax - 33 - 7;  // ends exactly at the limit
    EXPECT_EQ(EntryDataStart(info, 7), kMax);
    info.HeaderOffset += 1;
    EXPECT_EQ(EntryDataStart(info, 7), std::nullopt);
    info.HeaderOffset = kMax;
    EXPECT_EQ(EntryDataStart(info, 0xFFFF), std::nullopt);
}

TEST(PlausibleEnd, EndsBeforeTheFirstSuspectEntry) {
    using testing::ArchiveBuilder;
    const auto walk = [](const testing::Bytes& bytes, std::uint64_t* trailing) {
        support::MemoryStream stream(bytes);
        PlausibleEnd plausible(static_cast<std::int64_t>(bytes.size()));
        WalkSummary summary;
        TCompress().WalkArchiveStream(
            stream, [&](std::string_view name, const TCompressedFileInfo& info) { plausible.Add(name, info); }, &summary);
        *trailing = plausible.TrailingEntries();
        return plausible.End(summary);
    };
    std::uint64_t trailing = 0;
    testing::Bytes archive = ArchiveBuilder().Add("ONE", 10, 10, 0).Add("TWO", 20, 5, 4).Build();
    const auto size = static_cast<std::int64_t>(archive.size());
    EXPECT_EQ(walk(archive, &trailing), size);
    EXPECT_EQ(trailing, 0u);

    testing::Bytes padded = archive;
    padded.resize(padded.size() + 100, 0);  // four empty entries
    EXPECT_EQ(walk(padded, &trailing), size);
    EXPECT_EQ(trailing, 4u);

    // A good entry after a suspect one still counts as trailing data.
    const testing::Bytes mixed = ArchiveBuilder().Add("ONE", 10, 10, 0).Add("", 0, 0, 0).Add("THREE", 3, 3, 0).Build();
    EXPECT_EQ(walk(mixed, &trailing), ArchiveBuilder().Add("ONE", 10, 10, 0).Build().size());
    EXPECT_EQ(trailing, 2u);

    // Suspect from the first entry: the archive header is all there is.
    EXPECT_EQ(walk(ArchiveBuilder().Add("", 0, 0, 0).Build(), &trailing), 21);
    EXPECT_EQ(walk(ArchiveBuilder().SizeValue(3000000000).Add("", 0, 0, 0).Build(), &trailing), 25);
}

}  // namespace
}  // namespace vexmira::archive
