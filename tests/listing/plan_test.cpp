// The plan every front end asks for (route, carve range and refusal) and the
// error kinds a listing ends with, read as values.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "listing/examine.hpp"
#include "listing/plan.hpp"
#include "support/memory_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::listing {
namespace {

TEST(Route, DirectOnlyForAnUpperCaseArcNameAndAnOffsetOverridesEverything) {
    struct Row {
        const char* file;
        bool offset;
        bool all;
        Route expected;
    };
    const Row rows[] = {
        {"SETUP.ARC", false, false, Route::Direct},  {"SETUP.ARC", false, true, Route::Direct},
        {"setup.arc", false, false, Route::Located},  // the dialog's test is case-sensitive
        {"x.Arc", false, true, Route::Candidates},   {"SETUP.ARC.exe", false, false, Route::Located},
        {"SETUP.ARC", true, true, Route::AtOffset},  {"carrier.exe", true, false, Route::AtOffset},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RouteOf(row.file, row.offset, row.all), row.expected)
            << row.file << " offset=" << row.offset << " all=" << row.all;
    }
    EXPECT_FALSE(Carvable(Route::Direct));
    EXPECT_TRUE(Carvable(Route::Located));
    EXPECT_TRUE(Carvable(Route::AtOffset));
}

TEST(CarvePlan, AHeaderWithoutAnEntryIsRefusedAndTheRangeEndsWhereTheToolEndsIt) {
    archive::WalkSummary walk;
    walk.ArchiveEnd = 5000;

    // A header alone: its 21 bytes are no archive worth carving.
    const CarvePlan empty = PlanCarve(0x400, walk, 0x400 + 21, 0, false);
    EXPECT_EQ(empty.End, 0x400);
    ASSERT_TRUE(empty.Refusal);
    EXPECT_EQ(*empty.Refusal, "Nothing to carve: no archive entry at offset 1024 of the file");
    EXPECT_EQ(empty.Suffix, ".00000400.ARC");

    const CarvePlan plausible = PlanCarve(1024, walk, 3000, 2, false);
    EXPECT_EQ(plausible.End, 3000);
    EXPECT_FALSE(plausible.Refusal);
    // To the walk's end, but never short of the plausible end.
    EXPECT_EQ(PlanCarve(1024, walk, 3000, 2, true).End, 5000);
    EXPECT_EQ(PlanCarve(1024, walk, 6000, 2, true).End, 6000);

    EXPECT_EQ(CarveSuffix(0x123456789), ".123456789.ARC");
    EXPECT_FALSE(CarveRefusal(10, 11));
    EXPECT_TRUE(CarveRefusal(10, 10));
}

// Keeps how the last listing ended.
class EndSink final : public ListingSink {
public:
    void Begin(const ListingHead&) override {}
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const ListingHead&, const ListingEnd& end) override { Error = end.Error; }
    std::optional<Text> Error;
};

std::optional<Text> ErrorListing(const std::string& file, testing::Bytes bytes, std::optional<std::int64_t> offset) {
    support::MemoryStream input(std::move(bytes));
    Options options;
    options.Input = &input;
    options.Offset = offset;
    EndSink sink;
    Examine(file, options, sink);
    return sink.Error;
}

TEST(ErrorKind, AListingEndsWithTheKindOfWhatFailedAndOnlyAnIdentifierReadsAsArchiveBytes) {
    testing::ArchiveBuilder method;
    method.CompressId("Q\xE9Z").Add("a", 1, 1);
    const std::optional<Text> unknownMethod = ErrorListing("m.ARC", method.Build(), std::nullopt);
    ASSERT_TRUE(unknownMethod);
    EXPECT_EQ(unknownMethod->Kind, support::ErrorKind::CompressionMethod);
    EXPECT_TRUE(unknownMethod->FromArchive());
    EXPECT_TRUE(unknownMethod->NotAnArchive());

    testing::ArchiveBuilder type;
    type.ArchiveType(2).Add("a", 1, 1);
    const std::optional<Text> otherType = ErrorListing("t.ARC", type.Build(), std::nullopt);
    ASSERT_TRUE(otherType);
    EXPECT_EQ(otherType->Kind, support::ErrorKind::ArchiveType);
    EXPECT_FALSE(otherType->FromArchive());
    EXPECT_TRUE(otherType->NotAnArchive());

    testing::Bytes noise(100, 'x');
    const std::optional<Text> noSignature = ErrorListing("n.bin", noise, 10);
    ASSERT_TRUE(noSignature);
    EXPECT_EQ(noSignature->Kind, support::ErrorKind::InvalidHeader);
    EXPECT_TRUE(noSignature->NotAnArchive());

    // A file that is not there: an open error, about the file system.
    Options options;
    EndSink sink;
    Examine("/nonexistent/folder/SETUP.ARC", options, sink);
    ASSERT_TRUE(sink.Error);
    EXPECT_EQ(sink.Error->Kind, support::ErrorKind::Open);
    EXPECT_FALSE(sink.Error->NotAnArchive());

    // An offset past the end is the listing's own word, no exception's.
    const std::optional<Text> past = ErrorListing("p.bin", noise, 1000);
    ASSERT_TRUE(past);
    EXPECT_EQ(past->Kind, support::ErrorKind::Other);

    // Running out of memory says so by its kind too: a caller that stops a
    // scan on it must not take it for one more failed listing.
    support::MemoryStream archive(testing::ArchiveBuilder().Add("a", 1, 1).Build());
    Options starved;
    starved.Input = &archive;
    starved.FailAllocationFor = "s.ARC";
    EndSink outOfMemory;
    EXPECT_EQ(Examine("s.ARC", starved, outOfMemory), Outcome::Failed);
    ASSERT_TRUE(outOfMemory.Error);
    EXPECT_EQ(outOfMemory.Error->Kind, support::ErrorKind::OutOfMemory);
}

// How each listing of a run ended: where it starts, where it joined, its plan.
class PlanSink final : public ListingSink {
public:
    struct Ended {
        std::int64_t Offset;
        std::optional<std::int64_t> Joins;
        std::optional<CarvePlan> Plan;
    };
    void Begin(const ListingHead&) override {}
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const ListingHead& head, const ListingEnd& end) override { Listings.push_back({head.Offset, end.Joins, end.Plan}); }
    std::vector<Ended> Listings;
};

// A's second entry is past A's plausible end (its method byte is out of
// range), and its data ends in B's header, so that B's first entry is A's
// third; B's walk reaches A's fourth and joins it. B lies past A's carve,
// and --all --carve carves it: its plan must come with its listing, carved
// or not, for a front end that only offers the carve.
TEST(CarvePlan, EveryCarvableListingEndsWithItsPlanAJoinedWalkToo) {
    const testing::Bytes bHeader = testing::ArchiveBuilder().Build();
    const std::int64_t oddData = 300 + static_cast<std::int64_t>(bHeader.size());
    testing::Bytes file = testing::Carrier(
        1000, testing::ArchiveBuilder()
                  .Add("FIRST.TXT", 500, 200)
                  .Add(testing::EntrySpec{.name = "ODD.BIN", .full_size = oddData, .compressed_size = oddData, .method = 9,
                                          .data_bytes = 300})
                  .Build());
    file.insert(file.end(), bHeader.begin(), bHeader.end());
    const testing::Bytes rest = testing::ArchiveBuilder().Add("SECOND.TXT", 900, 400, 2).Add("THIRD.TXT", 70, 70, 0).Build();
    file.insert(file.end(), rest.begin() + static_cast<std::ptrdiff_t>(bHeader.size()), rest.end());
    const std::int64_t b = static_cast<std::int64_t>(file.size() - rest.size());
    const std::int64_t secondEnd = b + 21 + 25 + 10 + 400;

    support::MemoryStream input(file);
    Options options;
    options.Input = &input;
    options.All = true;
    options.PlanCarves = true;
    PlanSink sink;
    Examine("joined.exe", options, sink);
    ASSERT_EQ(sink.Listings.size(), 2u);
    const PlanSink::Ended& first = sink.Listings[0];
    EXPECT_EQ(first.Offset, 1000);
    ASSERT_TRUE(first.Plan);
    EXPECT_EQ(first.Plan->End, 1000 + 21 + 25 + 9 + 200);  // A's plausible end: after FIRST.TXT
    const PlanSink::Ended& joined = sink.Listings[1];
    EXPECT_EQ(joined.Offset, b);
    ASSERT_TRUE(joined.Joins);
    ASSERT_TRUE(joined.Plan) << "a joined walk's listing carries no carve plan";
    EXPECT_EQ(joined.Plan->Offset, b);
    EXPECT_EQ(joined.Plan->End, secondEnd);
    EXPECT_FALSE(joined.Plan->Refusal);

    // An .ARC listed directly is no carve's.
    support::MemoryStream arc(testing::ArchiveBuilder().Add("A.TXT", 1, 1).Build());
    options = Options{};
    options.Input = &arc;
    options.PlanCarves = true;
    PlanSink direct;
    Examine("X.ARC", options, direct);
    ASSERT_EQ(direct.Listings.size(), 1u);
    EXPECT_FALSE(direct.Listings[0].Plan);
}

}  // namespace
}  // namespace vexmira::listing
