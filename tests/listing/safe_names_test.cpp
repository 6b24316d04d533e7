// Hostile entry names against the safe form, and what --extract plans for
// each kind of entry.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "listing/entry_data.hpp"
#include "listing/extraction.hpp"
#include "listing/safe_names.hpp"

namespace vexmira::listing {
namespace {

using namespace std::string_literals;

struct NameRow {
    std::string Bytes;
    std::string Suffix;
    std::string Safe;
};

TEST(SafeName, HostileNamesMapToTheStatedForm) {
    const NameRow rows[] = {
        {"README.TXT", "", "README.TXT"},
        {"../../etc/passwd", "", "..%2F..%2Fetc%2Fpasswd"},
        {"..", "", ".%2E"},
        {".", "", "%2E"},
        {"/abs", "", "%2Fabs"},
        {"C:\\WINDOWS\\x.dll", "", "C%3A%5CWINDOWS%5Cx.dll"},
        {"\\\\server\\share", "", "%5C%5Cserver%5Cshare"},
        {"a\0b"s, "", "a%00b"},
        {"tab\there\x7F", "", "tab%09here%7F"},
        {"caf\xE9", "", "caf%E9"},
        {"100%", "", "100%25"},
        {"%41", "", "%2541"},
        {"CON", "", "%43ON"},
        {"con.txt", "", "%63on.txt"},
        {"NUL .tar.gz", "", "%4EUL .tar.gz"},
        {"Com1", "", "%43om1"},
        {"LPT9.log", "", "%4CPT9.log"},
        {"CONOUT$", "", "%43ONOUT$"},
        {"COM10", "", "COM10"},
        {"CONSOLE", "", "CONSOLE"},
        {"CON", ".rle.raw", "%43ON.rle.raw"},
        {"name.", "", "name%2E"},
        {"name ", "", "name%20"},
        {"name.", ".lh5.raw", "name..lh5.raw"},
        {"", "", "%empty"},
        {"", ".lzh.raw", "%empty.lzh.raw"},
        {"a:b*c?d\"e<f>g|h", "", "a%3Ab%2Ac%3Fd%22e%3Cf%3Eg%7Ch"},
        {"x", ".m9.raw", "x.m9.raw"},
    };
    for (const NameRow& row : rows) {
        EXPECT_EQ(SafeName(row.Bytes, row.Suffix), row.Safe) << "name \"" << row.Bytes << "\" suffix " << row.Suffix;
    }
}

TEST(SafeName, LongNamesAreCutWithADigestAndStayDistinct) {
    const std::string a(300, 'A');
    const std::string b = std::string(299, 'A') + "B";
    const std::string safeA = SafeName(a, ".lh5.raw");
    const std::string safeB = SafeName(b, ".lh5.raw");
    EXPECT_NE(safeA, safeB);
    EXPECT_LE(safeA.size() + 12, kLongestName) << safeA;  // room for a "~N"
    EXPECT_TRUE(safeA.ends_with(".lh5.raw")) << safeA;
    EXPECT_EQ(safeA.substr(safeA.size() - 8 - 17, 1), "~") << safeA;
    // Exactly at the limit nothing is cut; one byte more is.
    const std::size_t fits = kLongestName - 12;
    EXPECT_EQ(SafeName(std::string(fits, 'x')), std::string(fits, 'x'));
    EXPECT_NE(SafeName(std::string(fits + 1, 'x')), std::string(fits + 1, 'x'));
    // A cut never splits an escape: each '%' is followed by two hex digits.
    for (std::size_t shift = 0; shift < 3; ++shift) {
        const std::string safe = SafeName(std::string(shift, 'x') + std::string(200, '\x01'));
        for (std::size_t i = 0; i < safe.size(); ++i) {
            if (safe[i] != '%') continue;
            ASSERT_LE(i + 2, safe.size() - 1) << safe;
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(safe[i + 1])) &&
                        std::isxdigit(static_cast<unsigned char>(safe[i + 2])))
                << safe;
        }
    }
}

TEST(UniqueNames, DuplicatesAndCaseTwinsGetACount) {
    UniqueNames names{kManifestName};
    EXPECT_EQ(names.Take("README.TXT"), "README.TXT");
    EXPECT_EQ(names.Take("README.TXT"), "README~2.TXT");
    EXPECT_EQ(names.Take("readme.txt"), "readme~3.txt");
    // A later name equal to a numbered one gets its own count.
    EXPECT_EQ(names.Take("README~2.TXT"), "README~2~2.TXT");
    EXPECT_EQ(names.Take("MANIFEST.JSONL"), "MANIFEST~2.JSONL");
    EXPECT_EQ(names.Take("SETUP.INI", ".rle.raw"), "SETUP.INI.rle.raw");
    EXPECT_EQ(names.Take("setup.ini", ".rle.raw"), "setup~2.ini.rle.raw");
    EXPECT_EQ(names.Take("NODOT"), "NODOT");
    EXPECT_EQ(names.Take("nodot"), "nodot~2");
    EXPECT_EQ(names.Take(""), "%empty");
    EXPECT_EQ(names.Take(""), "%empty~2");
}

archive::TCompressedFileInfo Info(std::int64_t header, std::int64_t stored, std::int64_t full, std::uint8_t method,
                                  bool locked = false) {
    archive::TCompressedFileInfo info;
    info.HeaderOffset = header;
    info.CompressedSize = stored;
    info.FullSize = full;
    info.Method = method;
    info.Locked = locked;
    return info;
}

TEST(ExtractionPlanner, StoredEntriesAsFilesEverythingElseRaw) {
    ExtractionPlanner planner(false);
    planner.BeginListing();
    const auto plan = [&](std::string_view name, const archive::TCompressedFileInfo& info) {
        return planner.Plan(name, info, std::nullopt, 100000, 0);
    };
    EntryExtraction stored = plan("A.TXT", Info(0, 10, 10, 0));
    EXPECT_EQ(stored.Name, "A.TXT");
    EXPECT_FALSE(stored.Raw);
    EXPECT_EQ(stored.Start, 30);  // 25-byte header, 5-byte name
    const EntryExtraction locked = plan("B.TXT", Info(40, 10, 10, 0, true));
    EXPECT_EQ(locked.Name, "B.TXT.non.raw");
    ASSERT_TRUE(locked.WhyRaw);
    EXPECT_TRUE(locked.WhyRaw->starts_with("Locked")) << *locked.WhyRaw;
    EXPECT_EQ(plan("C.TXT", Info(80, 10, 20, 0)).Name, "C.TXT.non.raw");                // sizes differ
    EXPECT_EQ(plan("SETUP.INI", Info(120, 10, 20, 1)).Name, "SETUP.INI.rle.raw");
    EXPECT_EQ(plan("D", Info(200, 10, 20, 4)).Name, "D.lh5.raw");
    EXPECT_EQ(plan("E", Info(300, 10, 20, 200)).Name, "E.m200.raw");
}

TEST(ExtractionPlanner, NeverWritesPastTheFirstOfOverlappingRanges) {
    ExtractionPlanner planner(false);
    planner.BeginListing();
    // Entry data at [26, 126) and, from another walk, [100, 110): the second is not written.
    EXPECT_TRUE(planner.Plan("X", Info(0, 100, 100, 0), std::nullopt, 1000, 0).Name);
    const EntryExtraction inside = planner.Plan("Y", Info(74, 10, 10, 0), std::nullopt, 1000, 0);
    EXPECT_FALSE(inside.Name);
    EXPECT_NE(inside.NotWritten->find("header 0"), std::string::npos) << *inside.NotWritten;
    // Touching is not overlapping: [126, 136) follows.
    EXPECT_TRUE(planner.Plan("Z", Info(100, 10, 10, 0), std::nullopt, 1000, 0).Name);
    // Empty entries take no room.
    EXPECT_TRUE(planner.Plan("E", Info(30, 0, 0, 0), std::nullopt, 1000, 0).Name);
    // A new listing keeps the written ranges: they are the file's.
    planner.BeginListing();
    EXPECT_FALSE(planner.Plan("W", Info(50, 20, 20, 0), std::nullopt, 1000, 0).Name);
}

TEST(ExtractionPlanner, PastTheEndAndSuspectAreNotWritten) {
    ExtractionPlanner strict(false);
    strict.BeginListing();
    EXPECT_EQ(strict.Plan("CUT", Info(0, 100, 100, 0), std::nullopt, 127, 0).NotWritten, std::string(kStoredDataPastEnd));
    EXPECT_TRUE(strict.Plan("S", Info(0, 100, 100, 0), "empty name", 1000, 0).NotWritten);
    ExtractionPlanner lenient(true);
    lenient.BeginListing();
    EXPECT_TRUE(lenient.Plan("S", Info(0, 100, 100, 0), "empty name", 1000, 0).Name);
}

}  // namespace
}  // namespace vexmira::listing
