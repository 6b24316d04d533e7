// Which runs of --all listings fold into one, and what comes out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/repeated_listings.hpp"

namespace vexmira::cli {
namespace {

// Each listing as one line: offset, entry header offsets, joins, also_at.
class RecordingSink final : public ListingSink {
public:
    void Begin(const ListingHead& head) override { lines.push_back(std::to_string(head.Offset) + ":"); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view>) override {
        lines.back() += " " + std::string(name) + "@" + std::to_string(info.HeaderOffset);
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

}  // namespace
}  // namespace vexmira::cli
