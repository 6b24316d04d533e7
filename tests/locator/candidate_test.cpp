// Which positions are candidates, the signature search, and the texts and
// progress values the display is given.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "locator/scan.hpp"
#include "tests/locator/locator_helpers.hpp"

namespace vexmira::locator {
namespace {

using testing::Bytes;
using testing::CandidateBytes;
using testing::Plant;

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

// The candidates a position-by-position reading of the tests finds in a
// block whose look-ahead holds `after` more bytes of the file.
std::vector<std::size_t> NaiveCandidates(const Bytes& file, std::size_t length) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t have = std::min(file.size() - i, kWindowSize);
        if (IsCandidate(std::span(file).subspan(i, have))) found.push_back(i);
    }
    return found;
}

// BlockCandidates on one path over a block of `length` bytes of `file`, held
// in an allocation of exactly the block and its look-ahead room at the given
// misalignment, the rest of the file handed over as the look-ahead.
std::vector<std::size_t> PathCandidates(const Bytes& file, std::size_t length, std::size_t misalign,
                                        SearchPath path) {
    const std::size_t capacity = length + kLookahead;
    const auto storage = std::make_unique<std::uint8_t[]>(capacity + misalign);
    const std::span<std::uint8_t> buffer(storage.get() + misalign, capacity);
    std::copy_n(file.begin(), length, buffer.begin());
    const LookaheadFetch fetch = [&](std::span<std::uint8_t> out) {
        const std::size_t n = std::min(out.size(), file.size() - length);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(length), n, out.begin());
        return n;
    };
    return BlockCandidates(buffer, length, fetch, path);
}

TEST(SignatureSearch, EveryPathFindsWhatThePositionByPositionTestsFind) {
    std::mt19937 random(7);
    // Few letters, so signatures, their prefixes, the letters and the G/P
    // rejections all turn up at every lane of the vector steps and at both ends.
    const std::uint8_t letters[] = {'S', 'P', 'I', 0x1A, 'L', 'G', 'x'};
    const Bytes candidate = CandidateBytes("LZH");
    ASSERT_GE(SearchPaths().size(), 1u);
    for (std::size_t size : {0u, 1u, 6u, 31u, 32u, 63u, 64u, 65u, 127u, 128u, 129u, 200u, 1000u, 4096u}) {
        for (int round = 0; round < 12; ++round) {
            Bytes file(size + random() % 80);
            for (auto& byte : file) byte = letters[random() % 7];
            for (int k = 0; k < 6 && !file.empty(); ++k) {
                const std::size_t at = random() % file.size();
                const std::size_t keep = std::min(candidate.size(), file.size() - at);
                std::copy_n(candidate.begin(), keep, file.begin() + static_cast<std::ptrdiff_t>(at));
                if (random() % 3 == 0 && at + 56 < file.size()) file[at + 56] = 'G';
                if (random() % 3 == 0 && at + 57 < file.size()) file[at + 57] = 'P';
            }
            const std::size_t length = std::min(size, file.size());
            const std::vector<std::size_t> expected = NaiveCandidates(file, length);
            for (const SearchPath path : SearchPaths()) {
                EXPECT_EQ(PathCandidates(file, length, round % 32, path), expected)
                    << "size " << size << " round " << round << " path " << static_cast<int>(path);
            }
        }
    }
}

TEST(SignatureSearch, LoneCandidateAtEveryPositionOfALongRun) {
    // Long runs without a candidate are skipped in wide steps; a candidate at
    // any lane within or across those steps, or split by the block's end,
    // must be found.
    const Bytes candidate = CandidateBytes("NON");
    for (std::size_t at = 0; at < 460; ++at) {
        Bytes file(400, 'x');
        Plant(file, at, candidate);
        const std::vector<std::size_t> expected = NaiveCandidates(file, 400);
        ASSERT_EQ(expected.size(), at < 400 ? 1u : 0u);
        for (const SearchPath path : SearchPaths()) {
            EXPECT_EQ(PathCandidates(file, 400, at % 7, path), expected)
                << "candidate at " << at << " path " << static_cast<int>(path);
        }
    }
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
