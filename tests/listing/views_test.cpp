// What the views for people decide, as the tool and the page use it: where a
// name is cut, which method bytes show as numbers, what is said of what the
// locator passed over.

#include <gtest/gtest.h>

#include <string>

#include "archive/compress.hpp"
#include "report/views.hpp"

namespace vexmira::report {
namespace {

std::string Repeat(std::string_view unit, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += unit;
    return out;
}

// Characters, not bytes: a name of two-byte characters is cut at as many
// characters as one of ASCII, never inside one; at the width it stays whole.
TEST(ReportViews, NamesAreCutAtTheWidthInCharacters) {
    for (const std::string_view unit : {std::string_view("N"), std::string_view("\xC3\xA9"), std::string_view("\xE2\x82\xAC")}) {
        SCOPED_TRACE(std::string(unit));
        EXPECT_EQ(CutName(Repeat(unit, kNameWidth)), Repeat(unit, kNameWidth));
        EXPECT_EQ(CutName(Repeat(unit, kNameWidth + 1)), Repeat(unit, kNameWidth - 1) + "\u2026");
        EXPECT_EQ(CutName(Repeat(unit, 32767)), Repeat(unit, kNameWidth - 1) + "\u2026");
    }
    EXPECT_EQ(CutName("abcd", 3), "ab\u2026");
    EXPECT_EQ(CutName("abc", 3), "abc");
    EXPECT_EQ(CutName("", 3), "");
}

TEST(ReportViews, MethodBytesPastTheIdentifierTableShowAsNumbers) {
    EXPECT_EQ(MethodCell(0), "None");
    EXPECT_EQ(MethodCell(3), "LZH5") << "CUS: the dialog's caption";
    const auto last = static_cast<std::uint8_t>(archive::CompressIDTable.size() - 1);
    EXPECT_EQ(MethodCell(last), "LZH5");
    EXPECT_EQ(MethodCell(last + 1), std::to_string(last + 1));
    EXPECT_EQ(MethodCell(255), "255");
}

TEST(ReportViews, ThePassedOverNoteSaysWhatTheScanSawAndNothingOtherwise) {
    listing::ListingHead head;
    EXPECT_FALSE(PassedOverNote(head)) << "not from the block scan";
    head.PassedOverCount = 0;
    head.ReplacedCandidates = 0;
    EXPECT_FALSE(PassedOverNote(head));
    head.PassedOverCount = 2;
    EXPECT_EQ(PassedOverNote(head), "2 archive headers passed over by the locator's rule: --all lists them");
    head.ReplacedCandidates = 1;
    EXPECT_EQ(PassedOverNote(head), "2 archive headers passed over by the locator's rule, 1 earlier candidate in the "
                                    "block of the one chosen: --all lists them");
}

}  // namespace
}  // namespace vexmira::report
