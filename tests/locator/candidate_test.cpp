// Which positions are candidates, the signature search, and the texts and
// progress values the display is given.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "locator/scan.hpp"
#include "tests/locator/locator_helpers.hpp"

namespace vexmira::locator {
namespace {

using testing::Bytes;
using testing::CandidateBytes;

struct Window {
    const char* what;
    Bytes bytes;
    bool candidate;
};

Bytes With(Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

Bytes Prefix(const Bytes& bytes, std::size_t count) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)); }

TEST(CandidateTests, EachOfTheThreeTests) {
    const Bytes good = CandidateBytes("LZH");
    const Window windows[] = {
        {"LZH", good, true},
        {"LH5", CandidateBytes("LH5"), true},
        {"NON", CandidateBytes("NON"), true},
        {"RLE", CandidateBytes("RLE"), true},
        {"CUS is skipped", CandidateBytes("CUS"), false},
        {"lower-case l", CandidateBytes("lzh"), false},
        {"signature byte 4 not 0x1A", With(good, 4, 0x1B), false},
        {"signature byte 0 not S", With(good, 0, 's'), false},
        {"signature byte 2 not I", With(good, 2, 'i'), false},
        {"byte 56 G alone", With(good, 56, 'G'), false},
        {"byte 57 P alone", With(good, 57, 'P'), false},
        {"G and P together", With(With(good, 56, 'G'), 57, 'P'), false},
        {"P at 56 and G at 57 pass", With(With(good, 56, 'P'), 57, 'G'), true},
        {"byte 55 is not looked at", With(good, 55, 'G'), true},
    };
    for (const Window& window : windows) {
        EXPECT_EQ(IsCandidate(window.bytes), window.candidate) << window.what;
    }
}

TEST(CandidateTests, BytesBeyondTheWindowAreIgnored) {
    Bytes longer = CandidateBytes("LZH");
    longer.push_back('P');  // byte 58
    longer.push_back('G');
    EXPECT_TRUE(IsCandidate(longer));
}

// Near the end of the file the window is short: the signature and byte 5 must
// be there, a missing byte 56 or 57 rejects nothing.
TEST(CandidateTests, ShortWindowAtTheEndOfTheFile) {
    const Bytes good = CandidateBytes("LZH");
    const Window windows[] = {
        {"5 bytes: no identifier letter", Prefix(good, 5), false},
        {"6 bytes: signature and L", Prefix(good, 6), true},
        {"46 bytes: the shortest listable archive", Prefix(good, 46), true},
        {"56 bytes: both 56 and 57 missing", Prefix(good, 56), true},
        {"57 bytes: byte 56 is G, 57 missing", Prefix(With(good, 56, 'G'), 57), false},
        {"57 bytes: byte 56 fine, 57 missing", Prefix(good, 57), true},
        {"6 bytes, C", Prefix(CandidateBytes("CUS"), 6), false},
        {"empty", Bytes{}, false},
    };
    for (const Window& window : windows) {
        EXPECT_EQ(IsCandidate(window.bytes), window.candidate) << window.what;
    }
}

TEST(CandidateTests, MatchesSoFarOnlyJudgesBytesPresent) {
    const Bytes good = CandidateBytes("LZH");
    EXPECT_TRUE(MatchesSoFar(Prefix(good, 1)));
    EXPECT_TRUE(MatchesSoFar(Prefix(good, 3)));
    EXPECT_FALSE(MatchesSoFar(Prefix(With(good, 2, 'X'), 3)));
    EXPECT_FALSE(MatchesSoFar(Prefix(CandidateBytes("CUS"), 6)));
    EXPECT_TRUE(MatchesSoFar({}));
}

std::size_t NaivePair(const Bytes& data, std::size_t from) {
    for (std::size_t i = from; i + 1 < data.size(); ++i) {
        if (data[i] == 'S' && data[i + 1] == 'P') return i;
    }
    return data.size();
}

TEST(SignatureSearch, FindsEveryPairAByteByByteSearchFinds) {
    std::mt19937 random(7);
    // Few letters, so pairs, lone 'S' and lone 'P' all turn up at every
    // alignment of the vector steps, and at both ends.
    const std::uint8_t letters[] = {'S', 'P', 'x'};
    for (std::size_t size : {0u, 1u, 2u, 15u, 16u, 17u, 63u, 64u, 65u, 66u, 127u, 128u, 129u, 1000u, 4096u}) {
        for (int round = 0; round < 20; ++round) {
            Bytes data(size);
            for (auto& byte : data) byte = letters[random() % 3];
            std::size_t expected = NaivePair(data, 0);
            std::size_t got = NextSignaturePair(data.data(), data.size(), 0);
            std::size_t from = 0;
            while (true) {
                ASSERT_EQ(got, expected) << "size " << size << " round " << round << " from " << from;
                if (got == data.size()) break;
                from = got + 1;
                expected = NaivePair(data, from);
                got = NextSignaturePair(data.data(), data.size(), from);
            }
        }
    }
}

TEST(SignatureSearch, LonePairAtEveryPositionOfALongRun) {
    // Long runs without a pair are skipped in wide steps; a pair at any
    // offset within or across those steps must stop them.
    for (std::size_t at = 0; at + 1 < 400; ++at) {
        Bytes data(400, 'x');
        data[at] = 'S';
        EXPECT_EQ(NextSignaturePair(data.data(), data.size(), 0), 400u) << "lone S at " << at;
        data[at + 1] = 'P';
        EXPECT_EQ(NextSignaturePair(data.data(), data.size(), 0), at) << "pair at " << at;
        if (at > 0) {
            EXPECT_EQ(NextSignaturePair(data.data(), data.size(), at - 1), at) << "pair at " << at;
        }
    }
}

TEST(SignatureSearch, PairInTheLastTwoBytesAndPastTheEnd) {
    Bytes data(200, 'x');
    data[198] = 'S';
    data[199] = 'P';
    EXPECT_EQ(NextSignaturePair(data.data(), data.size(), 0), 198u);
    EXPECT_EQ(NextSignaturePair(data.data(), 199, 0), 199u) << "the 'P' lies outside the data";
    EXPECT_EQ(NextSignaturePair(data.data(), data.size(), 199), 200u);
    EXPECT_EQ(NextSignaturePair(data.data(), data.size(), 500), 200u) << "from past the end";
}

TEST(OffsetLabel, HexDigitsAndKilobytes) {
    const struct {
        std::int64_t offset;
        const char* text;
    } rows[] = {
        {0, "00000000 - 0 Kb"},
        {1023, "000003FF - 0 Kb"},
        {1024, "00000400 - 1 Kb"},
        {4050, "00000FD2 - 3 Kb"},
        {0x7FFFFFFF, "7FFFFFFF - 2097151 Kb"},
        {std::int64_t{5} << 29, "A0000000 - 2621440 Kb"},
        {0xFFFFFFFF, "FFFFFFFF - 4194303 Kb"},
        {std::int64_t{1} << 32, "100000000 - 4194304 Kb"},
        {std::numeric_limits<std::int64_t>::max(), "7FFFFFFFFFFFFFFF - 9007199254740991 Kb"},
    };
    for (const auto& row : rows) EXPECT_EQ(OffsetText(row.offset), row.text) << "offset " << row.offset;
}

TEST(ProgressValues, BytesBelow2GiBKilobytesAbove) {
    constexpr std::int64_t kLargest32 = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int64_t size;
        std::int32_t range;
    } rows[] = {
        {0, 0},
        {-1, 0},  // size unknown
        {4096, 4096},
        {kLargest32, std::numeric_limits<std::int32_t>::max()},
        {kLargest32 + 1, 2097152},
        {std::int64_t{3} << 30, 3145728},
        {std::numeric_limits<std::int64_t>::max(), 8388607},
    };
    for (const auto& row : rows) {
        const ProgressScale scale = ProgressScale::For(row.size);
        EXPECT_EQ(scale.Units(row.size), row.range) << "size " << row.size;
        EXPECT_EQ(scale.Units(0), 0) << "size " << row.size;
        EXPECT_LE(scale.Units(row.size / 2), scale.Units(row.size)) << "size " << row.size;
    }
}

}  // namespace
}  // namespace vexmira::locator
