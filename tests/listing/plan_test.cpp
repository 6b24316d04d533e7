// The plan every front end asks for (route, carve range and refusal) and the
// error kinds a listing ends with, read as values.

#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
}  // namespace vexmira::listing
