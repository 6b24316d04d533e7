// Which runs of --all listings, and of a listing's entries, fold into one,
// and what comes out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listing/repeated_listings.hpp"
#include "report/csv.hpp"
#include "report/filter.hpp"
#include "report/summary.hpp"

namespace vexmira::listing {
namespace {

// Each listing as one line: offset, entry header offsets, joins, also_at.
class RecordingSink final : public ListingSink {
public:
    void Begin(const ListingHead& head) override { lines.push_back(std::to_string(head.Offset) + ":"); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view>) override {
        lines.back() += " " + std::string(name) + "@" + std::to_string(info.HeaderOffset);
    }
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const ShiftedCopies& more) override {
        Entry(name, info, suspect);
        lines.back() += " x" + std::to_string(more.Count) + " every " + std::to_string(more.Every);
    }
    void End(const ListingHead&, const ListingEnd& end) override {
        if (end.Joins) lines.back() += " joins " + std::to_string(*end.Joins);
        if (end.AlsoAt) lines.back() += " x" + std::to_string(end.AlsoAt->Count) + " every " + std::to_string(end.AlsoAt->Every);
    }
    std::vector<std::string> lines;
};

struct Candidate {
    std::int64_t offset;
    std::vector<std::string> names;  // entries at offset + 21, + 85, ...
    std::optional<std::int64_t> joinsAfter;  // joins at offset + this
};

std::vector<std::string> Fold(const std::vector<Candidate>& candidates) {
    RecordingSink out;
    RepeatedListings folded(out);
    for (const Candidate& candidate : candidates) {
        ListingHead head;
        head.File = "f.bin";
        head.Located = true;
        head.Listed = "f.bin";
        head.Offset = candidate.offset;
        folded.Begin(head);
        std::int64_t at = candidate.offset + 21;
        for (const std::string& name : candidate.names) {
            archive::TCompressedFileInfo info;
            info.HeaderOffset = at;
            folded.Entry(name, info, std::nullopt);
            at += 64;
        }
        ListingEnd end;
        if (candidate.joinsAfter) end.Joins = candidate.offset + *candidate.joinsAfter;
        folded.End(head, end);
    }
    folded.Finish();
    return out.lines;
}

TEST(RepeatedListings, FoldsOnlyEvenlySpacedEqualJoiningListings) {
    // Three alike every 64 bytes fold; a change of spacing starts a new run.
    EXPECT_EQ(Fold({{0, {"A", "A"}, std::nullopt},
                    {64, {"A"}, 85},
                    {128, {"A"}, 85},
                    {192, {"A"}, 85},
                    {300, {"A"}, 85},
                    {400, {"A"}, 85}}),
              (std::vector<std::string>{"0: A@21 A@85", "64: A@85 joins 149 x2 every 64",
                                        "300: A@321 joins 385 x1 every 100"}));
    // Another name, another join distance, or two entries each end the run;
    // a lone joining listing goes on as it came.
    EXPECT_EQ(Fold({{64, {"A"}, 85}, {128, {"A"}, 85}, {192, {"B"}, 85}, {256, {"B"}, 90}, {320, {"B", "B"}, 149}}),
              (std::vector<std::string>{"64: A@85 joins 149 x1 every 64", "192: B@213 joins 277",
                                        "256: B@277 joins 346", "320: B@341 B@405 joins 469"}));
    // A listing that does not join never folds, and the run before it comes out first.
    EXPECT_EQ(Fold({{64, {"A"}, 85}, {128, {"A"}, 85}, {192, {"A"}, std::nullopt}}),
              (std::vector<std::string>{"64: A@85 joins 149 x1 every 64", "192: A@213"}));
}

// An entry as a walk hands it over.
struct WalkedEntry {
    std::string name;
    archive::TCompressedFileInfo info;
    std::optional<std::string> suspect;

    bool operator==(const WalkedEntry& other) const {
        const archive::TCompressedFileInfo& a = info;
        const archive::TCompressedFileInfo& b = other.info;
        return name == other.name && suspect == other.suspect && a.Long2 == b.Long2 && a.Word6 == b.Word6 &&
               a.FullSize == b.FullSize && a.CompressedSize == b.CompressedSize && a.Method == b.Method &&
               a.Long17 == b.Long17 && a.HeaderOffset == b.HeaderOffset && a.HeaderSize == b.HeaderSize &&
               a.Locked == b.Locked;
    }
};

WalkedEntry At(std::int64_t offset, std::string name = "A", std::optional<std::string> suspect = std::nullopt) {
    WalkedEntry entry{std::move(name), {}, std::move(suspect)};
    entry.info.HeaderOffset = offset;
    entry.info.FullSize = 40;
    entry.info.CompressedSize = 12;
    entry.info.Method = 2;
    entry.info.Long2 = 0x12345678;
    return entry;
}

// One listing of these entries through `first`.
void Walk(ListingSink& first, const std::vector<WalkedEntry>& entries, std::int64_t offset = 0,
          std::optional<std::int64_t> joins = std::nullopt) {
    ListingHead head;
    head.File = "f.bin";
    head.Located = true;
    head.Listed = "f.bin";
    head.Offset = offset;
    first.Begin(head);
    for (const WalkedEntry& entry : entries) {
        first.Entry(entry.name, entry.info,
                    entry.suspect ? std::optional<std::string_view>(*entry.suspect) : std::nullopt);
    }
    ListingEnd end;
    end.Joins = joins;
    first.End(head, end);
}

std::string FoldEntries(const std::vector<WalkedEntry>& entries) {
    RecordingSink out;
    RepeatedEntries folded(out);
    Walk(folded, entries);
    return out.lines.at(0);
}

TEST(RepeatedEntries, FoldsRunsOfEntriesMovedOnByOneDistance) {
    EXPECT_EQ(FoldEntries({At(21), At(85), At(149), At(213)}), "0: A@21 x3 every 64");
    // One repeat is a run too; one entry alone is not.
    EXPECT_EQ(FoldEntries({At(21), At(85)}), "0: A@21 x1 every 64");
    EXPECT_EQ(FoldEntries({At(21)}), "0: A@21");
    // Two runs in one listing, and the entry between them.
    EXPECT_EQ(FoldEntries({At(21), At(85), At(149), At(180, "C"), At(200, "B"), At(210, "B"), At(220, "B")}),
              "0: A@21 x2 every 64 C@180 B@200 x2 every 10");
    // A change of step ends the run; the next one may start from its last entry.
    EXPECT_EQ(FoldEntries({At(21), At(85), At(149), At(200), At(251)}), "0: A@21 x2 every 64 A@200 x1 every 51");
    // The same header again, or one further back, is no run.
    EXPECT_EQ(FoldEntries({At(21), At(21), At(5)}), "0: A@21 A@21 A@5");
}

TEST(RepeatedEntries, AnyOtherDifferenceEndsARun) {
    const auto changed = [](auto change) {
        WalkedEntry entry = At(149);
        change(entry);
        return FoldEntries({At(21), At(85), entry});
    };
    const std::string ended = "0: A@21 x1 every 64 A@149";
    EXPECT_EQ(changed([](WalkedEntry& e) { e.name = "a"; }), "0: A@21 x1 every 64 a@149");
    EXPECT_EQ(changed([](WalkedEntry& e) { e.suspect = "why"; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.FullSize = 41; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.CompressedSize = 13; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.Method = 3; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.Locked = true; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.HeaderSize = 33; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.Long2 = 1; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.Word6 = 1; }), ended);
    EXPECT_EQ(changed([](WalkedEntry& e) { e.info.Long17 = 1; }), ended);
    // Suspect entries fold among themselves, but not across another reason.
    EXPECT_EQ(FoldEntries({At(21, "A", "x"), At(85, "A", "x"), At(149, "A", "y")}), "0: A@21 x1 every 64 A@149");
}

// Keeps every entry one by one: a sink that does not show runs.
class ExpandingSink final : public ListingSink {
public:
    void Begin(const ListingHead&) override { ++listings; }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        entries.push_back({std::string(name), info, suspect ? std::optional<std::string>(*suspect) : std::nullopt});
    }
    void End(const ListingHead&, const ListingEnd&) override { ended = entries.size(); }
    int listings = 0;
    std::size_t ended = 0;  // how many entries had come when the listing ended
    std::vector<WalkedEntry> entries;
};

TEST(RepeatedEntries, ASinkThatDoesNotShowRunsGetsExactlyWhatCameIn) {
    std::vector<WalkedEntry> walked;
    for (std::int64_t k = 0; k < 5; ++k) walked.push_back(At(21 + 64 * k));
    walked.push_back(At(400, "B", "past the end"));
    walked.push_back(At(433, "B", "past the end"));
    walked.push_back(At(466, "B", "past the end"));
    WalkedEntry locked = At(500);
    locked.info.Locked = true;
    walked.push_back(locked);
    for (std::int64_t k = 1; k < 4; ++k) walked.push_back(At(500 + 7 * k));
    ExpandingSink out;
    RepeatedEntries folded(out);
    Walk(folded, walked);
    EXPECT_EQ(out.listings, 1);
    EXPECT_EQ(out.ended, walked.size()) << "every entry comes before the end";
    EXPECT_EQ(out.entries, walked);
}

TEST(RepeatedEntries, AListingWithARunIsNeverFoldedIntoOthers) {
    // The first walk reads every entry; the candidates after it each list
    // their own and join it. With two entries each (a run) they stay apart.
    RecordingSink out;
    RepeatedListings listings(out);
    RepeatedEntries entries(listings);
    Walk(entries, {At(21), At(85), At(149), At(213)}, 0);
    Walk(entries, {At(85)}, 64, 149);
    Walk(entries, {At(149)}, 128, 213);
    Walk(entries, {At(213)}, 192, 277);
    Walk(entries, {At(277), At(341)}, 256, 405);
    Walk(entries, {At(341), At(405)}, 320, 469);
    listings.Finish();
    EXPECT_EQ(out.lines, (std::vector<std::string>{"0: A@21 x3 every 64", "64: A@85 joins 149 x2 every 64",
                                                   "256: A@277 x1 every 64 joins 405",
                                                   "320: A@341 x1 every 64 joins 469"}));
}

TEST(FilterSink, ShowsOrHidesARunOfEntriesWhole) {
    RecordingSink out;
    report::FilterSink filter(out, false, true);
    RepeatedEntries entries(filter);
    Walk(entries, {At(21), At(85), At(149), At(213, "A", "x"), At(277, "A", "x")});
    EXPECT_EQ(out.lines, (std::vector<std::string>{"0: A@21 x2 every 64"}));
}

}  // namespace
}  // namespace vexmira::listing
