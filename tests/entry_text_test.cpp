// The texts the dialog and the command-line tool show for an entry.

#include <gtest/gtest.h>

#include "archive/entry_text.hpp"

namespace vexmira::archive {
namespace {

struct PercentageCase {
    std::int64_t full;
    std::int64_t stored;
    bool locked;
    const char* expected;
};

TEST(PercentageText, FollowsTheRatioRules) {
    const PercentageCase cases[] = {
        {0, 0, false, "(empty)"},
        {0, 0, true, "(empty) (locked)"},
        {-5, 10, false, "(empty)"},               // only positive sizes have a ratio
        {100000, 25000, false, "75%"},            // last size of the exact branch
        {100001, 25000, false, "75%"},            // 25000 div (100001 div 100) = 25
        {1000, 2000, false, "-100%"},             // stored data larger than the original
        {100, 0, true, "100% (locked)"},
        {3, 1, false, "67%"},                     // 100 div 3 = 33, truncated
        {3, -1, false, "133%"},                   // negative quotients truncate towards zero
        {200000, 2000 * ((std::int64_t{1} << 32) + 5), false, "95%"},  // only the low 32 bits of the quotient count
        {200000, 2000 * (std::int64_t{1} << 31), false, "-2147483548%"},  // 100 - INT32_MIN wraps in 32 bits
        {1, std::int64_t{1} << 62, false, "100%"},  // 100 * 2^62 wraps to 0
        {std::int64_t{3000000000}, std::int64_t{1500000000}, false, "50%"},
    };
    for (const PercentageCase& c : cases) {
        TCompressedFileInfo info;
        info.FullSize = c.full;
        info.CompressedSize = c.stored;
        info.Locked = c.locked;
        EXPECT_EQ(PercentageText(info), c.expected) << "full " << c.full << ", stored " << c.stored;
        // The number for scripts is the one the text shows.
        const std::optional<std::int32_t> percent = PercentCompressed(info);
        const std::string expected = c.expected;
        if (expected.starts_with("(empty)")) {
            EXPECT_FALSE(percent.has_value()) << "full " << c.full;
        } else {
            ASSERT_TRUE(percent.has_value()) << "full " << c.full;
            EXPECT_EQ(std::to_string(*percent) + "%", expected.substr(0, expected.find('%') + 1));
        }
    }
}

TEST(SizeText, RoundsHalfKilobytesUpAndTruncatesTowardsZero) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 Kb"},       {511, "0 Kb"},         {512, "1 Kb"},
        {1535, "1 Kb"},    {1536, "2 Kb"},        {-512, "0 Kb"},
        {-2000, "-1 Kb"},  {3000000000, "2929688 Kb"},
        {std::numeric_limits<std::int64_t>::max(), "9007199254740991 Kb"},  // saturates, never wraps negative
    };
    for (const auto& [size, expected] : cases) EXPECT_EQ(SizeText(size), expected) << "size " << size;
}

TEST(MethodButton, ValuesFromThreeUpSelectTheLastButton) {
    EXPECT_EQ(MethodName(0), "None");
    EXPECT_EQ(MethodName(1), "RLE");
    EXPECT_EQ(MethodName(2), "LZH1");
    for (int method : {3, 4, 5, 128, 255}) {
        EXPECT_EQ(MethodButtonIndex(static_cast<std::uint8_t>(method)), 3) << "method " << method;
        EXPECT_EQ(MethodName(static_cast<std::uint8_t>(method)), "LZH5") << "method " << method;
    }
}

}  // namespace
}  // namespace vexmira::archive
