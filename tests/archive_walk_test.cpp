// The entry walk: records, offsets, and every quiet way it ends.

#include <gtest/gtest.h>

#include "support/memory_stream.hpp"
#include "tests/scan_helpers.hpp"

namespace vexmira::archive {
namespace {

using testing::ArchiveBuilder;
using testing::Bytes;
using testing::EntrySpec;
using testing::Names;
using testing::Scan;

TEST(EntryWalk, RecordsCarryEveryHeaderField) {
    ArchiveBuilder builder;
    EntrySpec first{.name = "SETUP.INI", .full_size = 5000, .compressed_size = 1200, .method = 2,
                    .flags = 0x40, .long2 = 0xDEADBEEF, .word6 = 0xFFFE, .long17 = 0x01020304};
    builder.Add(first).Add("DATA.BIN", 0, 0, 0).Add("SETUP.INI", 7, 9, 255, true);
    WalkSummary summary;
    const Bytes bytes = builder.Build();
    const EntryList list = Scan(bytes, &summary);

    ASSERT_EQ(Names(list), (std::vector<std::string>{"SETUP.INI", "DATA.BIN", "SETUP.INI"})) << "duplicates all appear";
    const TCompressedFileInfo& info = list.Info(0);
    EXPECT_EQ(info.Long2, 0xDEADBEEFu);
    EXPECT_EQ(info.Word6, 0xFFFEu);
    EXPECT_EQ(info.FullSize, 5000);
    EXPECT_EQ(info.CompressedSize, 1200);
    EXPECT_EQ(info.Method, 2);
    EXPECT_EQ(info.Long17, 0x01020304u);
    EXPECT_TRUE(info.Locked) << "any of flag bits 0-6 locks";
    EXPECT_FALSE(list.Info(1).Locked);
    EXPECT_EQ(list.Info(2).Method, 255);
    for (std::size_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Info(i).HeaderOffset, builder.HeaderOffset(i)) << "entry " << i;
    EXPECT_EQ(summary.End, WalkEnd::EndOfData);
    EXPECT_EQ(summary.ArchiveEnd, static_cast<std::int64_t>(bytes.size()));
    EXPECT_FALSE(summary.Truncated());
    EXPECT_EQ(summary.TrailingBytes(), 0);
}

TEST(EntryWalk, SmallestArchiveHoldsOneEntryWithAnEmptyName) {
    const EntryList list = Scan(ArchiveBuilder().Add("", 0, 0).Build());
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Name(0), "");
    EXPECT_EQ(list.Info(0).HeaderOffset, 21);
}

TEST(EntryWalk, OffsetsCountFromTheStreamNotTheArchive) {
    ArchiveBuilder builder;
    builder.Add("A", 3000000000, 10).Add("B", 1, 1);
    const Bytes carrier = testing::Carrier(1000, builder.Build(), 5);
    WalkSummary summary;
    const EntryList list = Scan(carrier, &summary, 1000);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Info(0).HeaderOffset, 1021);
    EXPECT_EQ(list.Info(1).HeaderOffset, 1000 + builder.HeaderOffset(1));
    EXPECT_EQ(list.Info(1).HeaderOffset, 1021 + 33 + 1 + 10) << "the large entry has a 33-byte header";
    EXPECT_EQ(summary.ArchiveStart, 1000);
    EXPECT_EQ(summary.ArchiveEnd, static_cast<std::int64_t>(carrier.size()) - 5);
    EXPECT_EQ(summary.TrailingBytes(), 5);
}

TEST(EntryWalk, LargeSizesNeedExactlyTheExtendedHeader) {
    ArchiveBuilder builder;
    builder.Add(EntrySpec{.name = "BIG", .full_size = std::int64_t{1} << 31, .compressed_size = 3000000000, .data_bytes = 0})
        .Add(EntrySpec{.name = "EDGE", .full_size = 0x7FFFFFFF});
    Bytes bytes = builder.Build();
    EntryList list = Scan(bytes);
    ASSERT_EQ(list.Count(), 1u) << "the walk must seek 3,000,000,000 bytes past the first entry";
    EXPECT_EQ(list.Info(0).FullSize, std::int64_t{1} << 31);
    EXPECT_EQ(list.Info(0).CompressedSize, 3000000000);

    // Extension words are judged by FullSize alone.
    list = Scan(ArchiveBuilder()
                    .Add(EntrySpec{.name = "LOWFULL", .full_size = 10, .compressed_size = 3000000000,
                                   .extended = true, .data_bytes = 0})
                    .Build());
    EXPECT_TRUE(list.Empty()) << "extension flag with FullSize <= 0x7FFFFFFF is invalid";

    list = Scan(ArchiveBuilder().Add(EntrySpec{.name = "MAX", .full_size = 0x7FFFFFFF}).Add("NEXT", 1, 0).Build());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"MAX", "NEXT"})) << "0x7FFFFFFF fits the short header";
}

struct Ending {
    const char* what;
    Bytes bytes;
    std::vector<std::string> names;
    WalkEnd end;
};

Bytes WithoutLast(Bytes bytes, std::size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

TEST(EntryWalk, IncompleteOrInvalidEntriesEndTheWalkQuietly) {
    const Ending endings[] = {
        {"cut entry header", WithoutLast(ArchiveBuilder().Add("A", 1, 0).Add("B", 1, 0).Build(), 10), {"A"}, WalkEnd::Incomplete},
        {"cut name", WithoutLast(ArchiveBuilder().Add("A", 1, 0).Add("LONGNAME", 1, 0).Build(), 1), {"A"}, WalkEnd::Incomplete},
        {"extension flag, small size",
         ArchiveBuilder().Add("A", 1, 0).Add(EntrySpec{.name = "B", .full_size = 5, .extended = true}).Add("C", 1, 0).Build(),
         {"A"}, WalkEnd::Invalid},
        {"extension flag, header ends after Flags",
         WithoutLast(ArchiveBuilder().Add("A", 1, 0).Add(EntrySpec{.name = "", .full_size = 3000000000}).Build(), 8),
         {"A"}, WalkEnd::Incomplete},
        {"negative name length",
         ArchiveBuilder().Add("A", 1, 0).Add(EntrySpec{.name = "B", .name_length = -1}).Add("C", 1, 0).Build(), {"A"},
         WalkEnd::Invalid},
        {"stored data past the end",
         ArchiveBuilder().Add("A", 1, 0).Add(EntrySpec{.name = "B", .compressed_size = 1000, .data_bytes = 10}).Build(),
         {"A", "B"}, WalkEnd::PastEnd},
    };
    for (const Ending& ending : endings) {
        WalkSummary summary;
        const EntryList list = Scan(ending.bytes, &summary);
        EXPECT_EQ(Names(list), ending.names) << ending.what;
        EXPECT_EQ(summary.End, ending.end) << ending.what;
        // Whatever ends the walk, the archive is whole up to the second entry's header.
        EXPECT_EQ(summary.ArchiveEnd, 21 + 25 + 1) << ending.what;
        EXPECT_EQ(summary.TrailingBytes(), static_cast<std::int64_t>(ending.bytes.size()) - summary.ArchiveEnd) << ending.what;
    }
}

TEST(EntryWalk, NegativeStoredSizeNeverReadsAHeaderTwice) {
    // -(25 + 1) would move the walk back onto the entry's own header forever;
    // the extended entry's size needs its extension word to be negative.
    const std::pair<std::int64_t, std::int64_t> sizes[] = {
        {1, -26}, {1, -1}, {1, INT32_MIN}, {3000000000, -(std::int64_t{1} << 40)}, {3000000000, -34}};
    for (const auto& [full, stored] : sizes) {
        ArchiveBuilder builder;
        builder.Add("A", 1, 0).Add(EntrySpec{.name = "B", .full_size = full, .compressed_size = stored, .data_bytes = 0})
            .Add("C", 1, 0);
        WalkSummary summary;
        const EntryList list = Scan(builder.Build(), &summary);
        ASSERT_EQ(Names(list), (std::vector<std::string>{"A", "B"})) << "size " << stored;
        EXPECT_EQ(list.Info(1).CompressedSize, stored);
        EXPECT_EQ(summary.End, WalkEnd::NegativeSize) << "size " << stored;
    }
}

TEST(EntryWalk, ZeroSizedEntriesAreFollowedDirectlyByTheNextHeader) {
    ArchiveBuilder builder;
    builder.Add("EMPTY", 0, 0).Add("", 0, 0).Add("LAST", 2, 2);
    const EntryList list = Scan(builder.Build());
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Info(1).HeaderOffset, 21 + 25 + 5);
    EXPECT_EQ(list.Info(2).HeaderOffset, 21 + 25 + 5 + 25);
}

TEST(EntryWalk, GarbageAfterTheArchiveIsReportedAsTrailing) {
    Bytes bytes = ArchiveBuilder().Add("A", 4, 4).Build();
    const auto end = static_cast<std::int64_t>(bytes.size());
    bytes.insert(bytes.end(), 100, 0xFF);  // NameLength -1: invalid, not cut short
    WalkSummary summary;
    EXPECT_EQ(Scan(bytes, &summary).Count(), 1u);
    EXPECT_EQ(summary.ArchiveEnd, end);
    EXPECT_EQ(summary.TrailingBytes(), 100);
    EXPECT_FALSE(summary.Truncated());
}

// Cutting a valid archive anywhere lists a prefix of its entries: never an
// error once the header is whole, never an entry that was not there.
TEST(EntryWalk, EveryTruncationListsAPrefix) {
    ArchiveBuilder builder;
    builder.SizeValue(3000000000)
        .Add("FIRST.TXT", 100, 40, 4)
        .Add("", 0, 0, 0)
        .Add("HUGE.DAT", 5000000000, 30, 2, true)
        .Add("LAST.EXE", 7, 7, 1);
    const Bytes full = builder.Build();
    const EntryList whole = Scan(full);
    ASSERT_EQ(whole.Count(), 4u);
    for (std::size_t length = 0; length <= full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        EntryList list;
        ASSERT_NO_THROW(list = Scan(cut)) << "length " << length;
        ASSERT_LE(list.Count(), whole.Count()) << "length " << length;
        for (std::size_t i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(list.Name(i), whole.Name(i)) << "length " << length << " entry " << i;
            EXPECT_EQ(list.Info(i).HeaderOffset, whole.Info(i).HeaderOffset) << "length " << length << " entry " << i;
        }
        // An entry is listed as soon as its header and name are whole.
        std::size_t expected = 0;
        while (expected < 4 && length >= static_cast<std::size_t>(builder.HeaderOffset(expected)) +
                                               (expected == 2 ? 33u : 25u) + whole.Name(expected).size()) {
            ++expected;
        }
        EXPECT_EQ(list.Count(), length < 46 ? 0 : expected) << "length " << length;
    }
}

// A walk paused after every entry and continued on a fresh stream over the
// same bytes sees what one walk sees, and ends the same way, for every cut.
TEST(EntryWalk, PausedAfterAnyEntryAndContinuedElsewhereItWalksTheSame) {
    ArchiveBuilder builder;
    builder.Add("FIRST.TXT", 100, 40, 4).Add("", 0, 0, 0).Add("HUGE.DAT", 5000000000, 30, 2, true).Add("LAST.EXE", 7, 7, 1);
    const Bytes full = builder.Build();
    for (std::size_t length = 46; length <= full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        WalkSummary whole;
        const EntryList expected = Scan(cut, &whole);
        support::MemoryStream first(cut.data(), cut.size());
        TCompress reader;
        WalkPosition at = reader.BeginWalk(first);
        std::vector<std::int64_t> offsets;
        int streams = 0;
        while (!at.Over) {
            ASSERT_LE(++streams, 6) << "length " << length;
            support::MemoryStream fresh(cut.data(), cut.size());
            reader.ContinueWalk(fresh, at, [&](std::string_view, const TCompressedFileInfo& info) {
                offsets.push_back(info.HeaderOffset);
                return false;
            });
        }
        ASSERT_EQ(offsets.size(), expected.Count()) << "length " << length;
        for (std::size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], expected.Info(i).HeaderOffset);
        EXPECT_EQ(at.Walk.End, whole.End) << "length " << length;
        EXPECT_EQ(at.Walk.ArchiveEnd, whole.ArchiveEnd) << "length " << length;
        EXPECT_EQ(at.Walk.HeaderEnd, whole.HeaderEnd) << "length " << length;
    }
}

}  // namespace
}  // namespace vexmira::archive
