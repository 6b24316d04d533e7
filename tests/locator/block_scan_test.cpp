// The block scan: which candidate wins, where the blocks lie, and what is read
// beyond a block.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

#include "locator/scan.hpp"
#include "support/memory_stream.hpp"
#include "tests/locator/locator_helpers.hpp"

namespace vexmira::locator {
namespace {

using testing::Bytes;
using testing::CandidateBytes;
using testing::Plant;

std::int64_t Find(const Bytes& file) {
    support::MemoryStream stream(file);
    return FindArchive(stream, stream.Size());
}

std::vector<std::int64_t> All(const Bytes& file) {
    support::MemoryStream stream(file);
    std::vector<std::int64_t> found;
    ForEachCandidate(stream, [&](std::int64_t offset) { found.push_back(offset); });
    return found;
}

// A file of `size` filler bytes with candidates planted at `offsets`.
Bytes FileWith(std::size_t size, std::initializer_list<std::size_t> offsets) {
    Bytes file(size, '.');
    for (const std::size_t offset : offsets) Plant(file, offset, CandidateBytes("LZH"));
    return file;
}

TEST(BlockScan, LaterCandidateInTheSameBlockWins) {
    EXPECT_EQ(Find(FileWith(10000, {100, 3000})), 3000);
    EXPECT_EQ(Find(FileWith(10000, {100, 3000, 4095})), 4095) << "the last position of the block counts too";
}

TEST(BlockScan, EarlierBlockWins) {
    // Block 0 covers [0, 4096), block 1 [4032, 8128), block 2 [8064, ...).
    EXPECT_EQ(Find(FileWith(20000, {5000, 9000})), 5000);
    EXPECT_EQ(Find(FileWith(20000, {9000, 15000})), 9000);
    EXPECT_EQ(Find(FileWith(20000, {4096})), 4096) << "first position only block 1 holds";
}

TEST(BlockScan, CandidateWhoseTestBytesLieBeyondTheFirstBlock) {
    // Bytes 56 and 57 of a candidate at 4050 are at 4106 and 4107, in block 1.
    EXPECT_EQ(Find(FileWith(10000, {4050})), 4050);
    // It belongs to block 0, so block 1's later candidate never counts.
    EXPECT_EQ(Find(FileWith(10000, {4050, 4100, 6000})), 4050);
    // Block 0 reads byte 56 from the file: a 'G' there rejects it, and block 1 wins.
    Bytes file = FileWith(10000, {4050, 6000});
    file[4050 + 56] = 'G';
    EXPECT_EQ(Find(file), 6000);
}

TEST(BlockScan, SignatureSplitByTheBlockEnd) {
    // 4094: "SP" in block 0, "IS", 0x1A and the identifier beyond it.
    EXPECT_EQ(Find(FileWith(10000, {4094, 4500})), 4094);
    EXPECT_EQ(Find(FileWith(10000, {4095, 4500})), 4095) << "only the 'S' inside the block";
    Bytes file = FileWith(10000, {4094, 4500});
    file[4094 + 5] = 'C';
    EXPECT_EQ(Find(file), 4500) << "a CUS archive across the boundary";
}

TEST(BlockScan, OverlapIsExaminedByBothBlocks) {
    // 4040 lies in the 64 bytes both block 0 and block 1 hold; in block 0 it
    // is the only candidate, so it wins before block 1's later one.
    EXPECT_EQ(Find(FileWith(20000, {4040, 4200})), 4040);
}

TEST(BlockScan, NothingFound) {
    EXPECT_EQ(Find(Bytes{}), -1);
    EXPECT_EQ(Find(FileWith(100000, {})), -1);
    Bytes file = FileWith(10000, {});
    Plant(file, 777, CandidateBytes("CUS"));
    EXPECT_EQ(Find(file), -1);
}

TEST(BlockScan, CandidateInTheLastBytesOfTheFile) {
    // The file ends 20 bytes after the signature: bytes 56 and 57 do not exist.
    const Bytes candidate = CandidateBytes("LZH");
    Bytes file = FileWith(9000, {});
    Plant(file, 8980, Bytes(candidate.begin(), candidate.begin() + 20));
    ASSERT_EQ(file.size(), 9000u);
    EXPECT_EQ(Find(file), 8980);
    // Five bytes left: the identifier letter is missing, so no candidate.
    file = FileWith(9000, {});
    Plant(file, 8995, Bytes(candidate.begin(), candidate.begin() + 5));
    EXPECT_EQ(Find(file), -1);
}

TEST(BlockScan, FileOfExactlyOneBlockAndOfOneBlockPlusOverlap) {
    EXPECT_EQ(Find(FileWith(4096, {4000})), 4000);
    EXPECT_EQ(Find(FileWith(4096 + 64, {4100})), 4100);
    EXPECT_EQ(Find(FileWith(4096 + 65, {4101})), 4101);
}

TEST(BlockScan, LookaheadIsFetchedOnlyWhenAPositionNeedsIt) {
    std::array<std::uint8_t, kBlockSize + kLookahead> buffer{};
    buffer.fill('.');
    int fetches = 0;
    const LookaheadFetch fetch = [&](std::span<std::uint8_t> out) {
        ++fetches;
        const Bytes rest = {'I', 'S', 0x1A, 'L', 'Z', 'H'};
        std::copy(rest.begin(), rest.end(), out.begin());
        return rest.size();
    };
    EXPECT_TRUE(BlockCandidates(buffer, kBlockSize, fetch).empty());
    EXPECT_EQ(fetches, 0) << "no signature near the end";

    buffer[kBlockSize - 30] = 'S';
    buffer[kBlockSize - 29] = 'Q';
    EXPECT_TRUE(BlockCandidates(buffer, kBlockSize, fetch).empty());
    EXPECT_EQ(fetches, 0) << "the bytes at hand already rule it out";

    buffer[kBlockSize - 2] = 'S';
    buffer[kBlockSize - 1] = 'P';
    const auto found = BlockCandidates(buffer, kBlockSize, fetch);
    EXPECT_EQ(fetches, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], kBlockSize - 2);
}

// The scan as the block rules state it, one position at a time.
std::int64_t ReferenceFind(const Bytes& file) {
    const auto size = static_cast<std::int64_t>(file.size());
    const auto isCandidate = [&](std::int64_t p) {
        if (size - p < 6) return false;
        for (std::size_t k = 0; k < 5; ++k) {
            if (file[static_cast<std::size_t>(p) + k] != kSignature[k]) return false;
        }
        const std::uint8_t letter = file[static_cast<std::size_t>(p + 5)];
        if (letter != 'L' && letter != 'N' && letter != 'R') return false;
        if (size - p > 56 && file[static_cast<std::size_t>(p + 56)] == 'G') return false;
        if (size - p > 57 && file[static_cast<std::size_t>(p + 57)] == 'P') return false;
        return true;
    };
    std::int64_t position = 0;
    for (;;) {
        const std::int64_t start = position;
        const std::int64_t n = std::min<std::int64_t>(4096, size - start);
        if (n <= 0) return -1;
        std::int64_t found = -1;
        for (std::int64_t i = 0; i < n; ++i) {
            if (isCandidate(start + i)) found = start + i;
        }
        if (found >= 0) return found;
        position = start + n;
        if (position < size) position -= 64;
    }
}

TEST(BlockScan, AgreesWithAPositionByPositionScan) {
    std::mt19937 random(2024);
    // Bytes that make up signatures, identifiers and test-3 rejections, so
    // near misses of every kind turn up.
    const std::uint8_t letters[] = {'S', 'P', 'I', 0x1A, 'L', 'N', 'C', 'G', '.'};
    for (int round = 0; round < 300; ++round) {
        Bytes file(random() % 14000);
        for (auto& byte : file) byte = letters[random() % 9];
        const int planted = static_cast<int>(random() % 4);
        for (int k = 0; k < planted && !file.empty(); ++k) {
            Bytes candidate = CandidateBytes(random() % 2 ? "LZH" : "CUS");
            if (random() % 3 == 0) candidate[56 + random() % 2] = random() % 2 ? 'G' : 'P';
            const std::size_t at = random() % file.size();
            for (std::size_t i = 0; i < candidate.size() && at + i < file.size(); ++i) file[at + i] = candidate[i];
        }
        ASSERT_EQ(Find(file), ReferenceFind(file)) << "round " << round << ", size " << file.size();

        std::vector<std::int64_t> expected;
        for (std::size_t p = 0; p < file.size(); ++p) {
            const Bytes window(file.begin() + static_cast<std::ptrdiff_t>(p),
                               file.begin() + static_cast<std::ptrdiff_t>(std::min(p + 58, file.size())));
            if (IsCandidate(window)) expected.push_back(static_cast<std::int64_t>(p));
        }
        ASSERT_EQ(All(file), expected) << "round " << round;
    }
}

// The scan reads many blocks at once and carries a block that a read cuts
// (or its look-ahead) into the next one; whatever the read size, the winner
// is the one the block rules give, also from a start that is not 0.
TEST(BlockScan, WinnerDoesNotDependOnTheReadSize) {
    std::mt19937 random(77);
    const std::uint8_t letters[] = {'S', 'P', 'I', 0x1A, 'L', 'G', '.'};
    for (int round = 0; round < 200; ++round) {
        Bytes file(random() % 30000);
        for (auto& byte : file) byte = letters[random() % 7];
        for (int k = static_cast<int>(random() % 3); k > 0 && !file.empty(); --k) {
            Bytes candidate = CandidateBytes("NVX");
            if (random() % 3 == 0) candidate[56] = 'G';
            const std::size_t at = random() % file.size();
            for (std::size_t i = 0; i < candidate.size() && at + i < file.size(); ++i) file[at + i] = candidate[i];
        }
        const std::size_t skip = file.empty() || random() % 2 ? 0 : random() % file.size();
        const Bytes tail(file.begin() + static_cast<std::ptrdiff_t>(skip), file.end());
        const std::int64_t expected = ReferenceFind(tail);
        for (const std::size_t readSize : {std::size_t{1}, std::size_t{4096}, std::size_t{4153},
                                           std::size_t{1} + random() % 9000, kScanReadSize}) {
            support::MemoryStream stream(file);
            stream.Seek(static_cast<std::int64_t>(skip), support::SeekOrigin::Beginning);
            const std::int64_t found = FindArchive(stream, stream.Size(), readSize);
            ASSERT_EQ(found, expected < 0 ? -1 : expected + static_cast<std::int64_t>(skip))
                << "round " << round << ", size " << file.size() << ", read size " << readSize;
        }
    }
}

// The scan ends with the block that reaches the size it is given, though the
// stream holds more (a file that grew since it was opened): a candidate in
// that block's last bytes wins, one past it is never seen, whether the read
// that holds them is searched block by block or passed over as a whole, and
// however far on the stream's next candidate lies.
TEST(BlockScan, TheBlockThatReachesTheGivenSizeIsTheLast) {
    constexpr std::size_t kStride = kBlockSize - kBlockOverlap;
    for (const std::size_t lastBlock : {std::size_t{4}, std::size_t{300}}) {
        const std::size_t start = lastBlock * kStride;
        const auto size = static_cast<std::int64_t>(start + 100);
        for (const std::size_t readSize : {std::size_t{4096}, std::size_t{9000}, kScanReadSize}) {
            support::MemoryStream inLast(FileWith(start + 3 * kBlockSize, {start + 4000}));
            EXPECT_EQ(FindArchive(inLast, size, readSize), static_cast<std::int64_t>(start + 4000))
                << "last block " << lastBlock << ", read size " << readSize;
            for (const std::size_t past : {start + kBlockSize + 10, start + (std::size_t{5} << 20) / 2}) {
                support::MemoryStream pastIt(FileWith(start + (std::size_t{3} << 20), {past}));
                EXPECT_EQ(FindArchive(pastIt, size, readSize), -1)
                    << "last block " << lastBlock << ", read size " << readSize << ", candidate at " << past;
            }
        }
    }
}

// The benchmark's dense fillers take other steps of the search than random
// bytes do; each must still give the model's winner and candidates, with a
// real candidate planted at either end of a block, in the overlap or nowhere.
TEST(BlockScan, EachDenseFillerGivesTheModelsAnswer) {
    const Bytes candidate = CandidateBytes("RLE");
    for (const testing::Filler& filler : testing::ScanFillers()) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{4000}, std::size_t{4070}, std::size_t{9001},
                                     std::size_t{20000}}) {
            Bytes file = testing::Repeated(filler.unit, 12345);
            if (at < file.size()) Plant(file, at, candidate);
            EXPECT_EQ(Find(file), ReferenceFind(file)) << filler.name << ", candidate at " << at;
            std::vector<std::int64_t> expected;
            for (std::size_t p = 0; p < file.size(); ++p) {
                const std::size_t have = std::min<std::size_t>(58, file.size() - p);
                if (IsCandidate(std::span(file).subspan(p, have))) expected.push_back(static_cast<std::int64_t>(p));
            }
            EXPECT_EQ(All(file), expected) << filler.name << ", candidate at " << at;
        }
    }
}

TEST(WholeFileSearch, EveryCandidateOnceAcrossChunks) {
    // Chunks are 1 MiB: candidates on both sides of a chunk boundary, one
    // split by it, and one in the last bytes.
    const std::size_t chunk = std::size_t{1} << 20;
    Bytes file = FileWith(2 * chunk + 100, {10, chunk - 3, chunk + 5, 2 * chunk + 90});
    EXPECT_EQ(All(file), (std::vector<std::int64_t>{10, static_cast<std::int64_t>(chunk - 3),
                                                    static_cast<std::int64_t>(chunk + 5),
                                                    static_cast<std::int64_t>(2 * chunk + 90)}));
}

TEST(WholeFileSearch, CallbackMayMoveTheStream) {
    Bytes file = FileWith(3'000'000, {100, 1'500'000, 2'999'000});
    support::MemoryStream stream(file);
    std::vector<std::int64_t> found;
    ForEachCandidate(stream, [&](std::int64_t offset) {
        found.push_back(offset);
        stream.Seek(offset + 7, support::SeekOrigin::Beginning);  // as a listing in place would
    });
    EXPECT_EQ(found, (std::vector<std::int64_t>{100, 1'500'000, 2'999'000}));
}

// Every path finds each whole signature, the ones that end in the last bytes
// too, and none that the data cuts short.
TEST(SignatureSearch, EveryPathFindsEachWholeSignature) {
    std::mt19937 random(5);
    const std::uint8_t letters[] = {'S', 'P', 'I', 0x1A, '.'};
    for (int round = 0; round < 400; ++round) {
        Bytes data(random() % 300);
        for (auto& byte : data) byte = letters[random() % (round % 2 ? 5 : 4)];
        if (!data.empty() && round % 3 == 0) Plant(data, random() % data.size(), Bytes(kSignature.begin(), kSignature.end()));
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i + kSignature.size() <= data.size(); ++i) {
            if (std::equal(kSignature.begin(), kSignature.end(), data.begin() + static_cast<std::ptrdiff_t>(i))) {
                expected.push_back(i);
            }
        }
        for (const SearchPath path : SearchPaths()) {
            std::vector<std::size_t> found;
            for (std::size_t i = NextSignature(data.data(), data.size(), 0, path); i < data.size();
                 i = NextSignature(data.data(), data.size(), i + 1, path)) {
                found.push_back(i);
            }
            ASSERT_EQ(found, expected) << "round " << round << ", path " << static_cast<int>(path);
        }
    }
}

// Runs without a signature are passed over many steps at a time: one after
// such a run is found wherever it lies among the steps, from any start, with
// or without a decoy before it that has the signature's first and last bytes.
TEST(SignatureSearch, EveryPathFindsASignatureAfterALongRun) {
    const Bytes signature(kSignature.begin(), kSignature.end());
    const Bytes decoy = {'S', '.', '.', '.', 0x1A};
    for (const SearchPath path : SearchPaths()) {
        for (std::size_t at = 0; at < 300; ++at) {
            for (const std::size_t tail : {0, 1, 31, 64, 200}) {
                Bytes data(at + signature.size() + tail, '.');
                Plant(data, at, signature);
                if (at >= 70) Plant(data, at - 70, decoy);
                for (const std::size_t from : {std::size_t{0}, std::min<std::size_t>(1, at), at / 2, at}) {
                    ASSERT_EQ(NextSignature(data.data(), data.size(), from, path), at)
                        << "signature at " << at << ", " << tail << " bytes after it, from " << from << ", path "
                        << static_cast<int>(path);
                }
                ASSERT_EQ(NextSignature(data.data(), data.size(), at + 1, path), data.size())
                    << "none after " << at << ", " << tail << " bytes after it, path " << static_cast<int>(path);
            }
        }
    }
}

// Every signature position, each once and in order, as the file's bytes say:
// "c@N" for a candidate, "o@N:reason" for another with the rule's reason.
std::vector<std::string> ModelSignatures(const Bytes& file) {
    std::vector<std::string> seen;
    for (std::size_t i = 0; i + kSignature.size() <= file.size(); ++i) {
        if (!std::equal(kSignature.begin(), kSignature.end(), file.begin() + static_cast<std::ptrdiff_t>(i))) continue;
        const std::span<const std::uint8_t> window(file.data() + i, std::min(kWindowSize, file.size() - i));
        seen.push_back(IsCandidate(window) ? "c@" + std::to_string(i)
                                           : "o@" + std::to_string(i) + ":" + RuleRejection(window).value_or("-"));
    }
    return seen;
}

TEST(SignatureScan, OneReadFindsCandidatesAndPassedOverPositionsInOrderWhateverTheChunk) {
    Bytes file(350, '.');
    Plant(file, 0, CandidateBytes("LZH"));
    Plant(file, 70, CandidateBytes("CUS"));  // another identifier
    Bytes g = CandidateBytes("LZH");
    g[56] = 'G';
    Plant(file, 140, g);
    Bytes p = CandidateBytes("NZH");
    p[57] = 'P';
    Plant(file, 200, p);
    // Near the end: bytes 56 and 57 missing reject nothing, an identifier cut short does.
    Bytes shortened = CandidateBytes("RZH");
    shortened.resize(43);
    Plant(file, 350, shortened);
    Plant(file, 393, Bytes{'S', 'P', 'I', 'S', 0x1A, 'X', 'Y'});
    ASSERT_EQ(file.size(), 400U);
    const std::vector<std::string> expected = {"c@0", "o@70:CUS identifier", "o@140:G at byte 56",
                                               "o@200:P at byte 57", "c@350", "o@393:XY identifier"};
    ASSERT_EQ(ModelSignatures(file), expected);
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{57}, std::size_t{64}, std::size_t{399},
                                    std::size_t{4096}}) {
        support::MemoryStream stream(file);
        std::vector<std::string> seen;
        ForEachSignature(
            stream,
            [&](std::int64_t offset) {
                seen.push_back("c@" + std::to_string(offset));
                stream.Seek(0, support::SeekOrigin::Beginning);  // a walk moves the stream
            },
            [&](std::int64_t offset, std::span<const std::uint8_t> window) {
                ASSERT_TRUE(std::equal(window.begin(), window.end(), file.begin() + static_cast<std::ptrdiff_t>(offset))) << "chunk " << chunk;
                seen.push_back("o@" + std::to_string(offset) + ":" + RuleRejection(window).value_or("-"));
                stream.Seek(0, support::SeekOrigin::Beginning);
            },
            chunk);
        EXPECT_EQ(seen, expected) << "chunk " << chunk;
    }
}

}  // namespace
}  // namespace vexmira::locator

namespace vexmira::locator {
namespace {

// What a witness is told: each rejected signature's position, and the count
// of the winning block's candidates before its winner.
struct Told {
    std::vector<std::int64_t> Others;
    std::uint64_t Replaced = 0;
    std::int64_t Found = -1;
};

Told Witnessed(const Bytes& file, std::size_t skip, std::size_t readSize) {
    support::MemoryStream stream(file);
    stream.Seek(static_cast<std::int64_t>(skip), support::SeekOrigin::Beginning);
    Told told;
    ScanWitness witness;
    witness.OnOther = [&](std::int64_t at, std::span<const std::uint8_t> window) {
        EXPECT_EQ(window.size(), std::min<std::size_t>(kWindowSize, file.size() - static_cast<std::size_t>(at))) << at;
        told.Others.push_back(at);
    };
    told.Found = FindArchive(stream, stream.Size(), readSize, &witness);
    told.Replaced = witness.ReplacedCandidates;
    return told;
}

// The model: the blocks from `skip` up to the first that holds a candidate
// (all of them when none does); every rejected signature they hold, once.
Told Expected(const Bytes& file, std::size_t skip) {
    constexpr std::size_t kStride = kBlockSize - kBlockOverlap;
    const auto windowAt = [&](std::size_t p) {
        return std::span<const std::uint8_t>(file.data() + p, std::min(kWindowSize, file.size() - p));
    };
    std::size_t scannedEnd = file.size();
    Told told;
    for (std::size_t start = skip; start < file.size(); start += kStride) {
        const std::size_t end = std::min(start + kBlockSize, file.size());
        std::vector<std::size_t> inBlock;
        for (std::size_t p = start; p < end; ++p) {
            if (IsCandidate(windowAt(p))) inBlock.push_back(p);
        }
        if (!inBlock.empty()) {
            scannedEnd = end;
            told.Found = static_cast<std::int64_t>(inBlock.back());
            told.Replaced = inBlock.size() - 1;
            break;
        }
        if (end == file.size()) break;
    }
    for (std::size_t p = skip; p + kSignature.size() <= file.size() && p < scannedEnd; ++p) {
        const auto window = windowAt(p);
        if (std::equal(kSignature.begin(), kSignature.end(), window.begin()) && !IsCandidate(window)) {
            told.Others.push_back(static_cast<std::int64_t>(p));
        }
    }
    return told;
}

// The witness hears of every signature the scan's blocks hold that the tests
// reject, once, though blocks overlap and reads cut them, and of nothing past
// the winning block, which the scan never reads; and of the candidates the
// winner replaced in its block.
TEST(BlockScan, TheWitnessIsToldWhatTheBlocksReadHoldWhateverTheReadSize) {
    std::mt19937 random(29);
    const std::uint8_t letters[] = {'S', 'P', 'I', 0x1A, 'L', 'C', 'G', '.'};
    for (int round = 0; round < 150; ++round) {
        Bytes file(random() % 30000);
        for (auto& byte : file) byte = letters[random() % 8];
        for (int k = static_cast<int>(random() % 6); k > 0 && !file.empty(); --k) {
            Bytes planted = CandidateBytes(random() % 2 ? "CUS" : "LZH");
            if (random() % 3 == 0) planted[56] = 'G';
            Plant(file, random() % file.size(), planted);
        }
        const std::size_t skip = file.empty() || random() % 2 ? 0 : random() % file.size();
        const Told expected = Expected(file, skip);
        for (const std::size_t readSize : {std::size_t{1}, std::size_t{4096}, std::size_t{4153},
                                           std::size_t{1} + random() % 9000, kScanReadSize}) {
            const Told told = Witnessed(file, skip, readSize);
            ASSERT_EQ(told.Found, expected.Found) << "round " << round << ", read size " << readSize;
            ASSERT_EQ(told.Others, expected.Others) << "round " << round << ", read size " << readSize;
            ASSERT_EQ(told.Replaced, expected.Replaced) << "round " << round << ", read size " << readSize;
        }
    }
}

}  // namespace
}  // namespace vexmira::locator
