// Archive header validation, identifiers and the reader's stored properties.

#include <gtest/gtest.h>

#include "support/file_stream.hpp"
#include "tests/scan_helpers.hpp"

namespace vexmira::archive {
namespace {

using testing::ArchiveBuilder;
using testing::Bytes;
using testing::Scan;

Bytes OneEntry(ArchiveBuilder builder) { return builder.Add("README.TXT", 10, 10).Build(); }

template <class Error>
std::string ErrorOf(const Bytes& bytes, TCompress& reader) {
    support::MemoryStream stream(bytes);
    EntryList list;
    list.Add("kept", {});
    try {
        reader.ScanArchiveStream(stream, list);
    } catch (const Error& error) {
        EXPECT_EQ(list.Count(), 1u) << "a header error must leave the list as it was";
        return error.Message();
    }
    return "(no error)";
}

template <class Error>
std::string ErrorOf(const Bytes& bytes) {
    TCompress reader;
    return ErrorOf<Error>(bytes, reader);
}

TEST(ArchiveHeader, ShortStreamsAreEmptyWithoutBeingExamined) {
    const Bytes garbage(45, 'x');
    support::MemoryStream stream(garbage);
    TCompress reader;
    EntryList list;
    WalkSummary summary;
    reader.ScanArchiveStream(stream, list, &summary);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(stream.ReadCalls(), 0u) << "nothing may be read from a stream under 46 bytes";
    EXPECT_EQ(summary.End, WalkEnd::TooShort);

    // 46 bytes counted from the current position, not from the start.
    const Bytes archive = ArchiveBuilder().Add("", 0, 0).Build();
    ASSERT_EQ(archive.size(), 46u);
    EXPECT_EQ(Scan(archive).Count(), 1u);
    EXPECT_EQ(Scan(testing::Carrier(1, archive), nullptr, 2).Count(), 0u);
}

TEST(ArchiveHeader, BadSignatureTypeAndIdentifierRaiseTheirErrors) {
    EXPECT_EQ(ErrorOf<EInvalidHeader>(OneEntry(ArchiveBuilder().Signature({'S', 'P', 'I', 'S', 0x1B}))),
              "Can't recognize compressed file header");
    EXPECT_EQ(ErrorOf<EInvalidHeader>(Bytes(46, 0)), "Can't recognize compressed file header");
    EXPECT_EQ(ErrorOf<EInvalidHeaderArchiveType>(OneEntry(ArchiveBuilder().ArchiveType(0))),
              "Archive type must be caMulti");
    EXPECT_EQ(ErrorOf<EInvalidHeaderArchiveType>(OneEntry(ArchiveBuilder().ArchiveType(2))),
              "Archive type must be caMulti");
    EXPECT_EQ(ErrorOf<EUnrecognizedCompressionMethod>(OneEntry(ArchiveBuilder().CompressId("lzh"))),
              "Unrecognized compression method: \"lzh\" in header");
    // The signature is checked before the type.
    EXPECT_EQ(ErrorOf<EInvalidHeader>(OneEntry(ArchiveBuilder().Signature({'S', 'P', 'I', 'Z', 0x1A}).ArchiveType(0))),
              "Can't recognize compressed file header");
}

TEST(ArchiveHeader, EveryBuiltInIdentifierIsRecognised) {
    TCompress reader;
    for (std::size_t index = 0; index < CompressIDTable.size(); ++index) {
        const std::string id(CompressIDTable[index]);
        EXPECT_EQ(reader.RecognizeCompressID(id), static_cast<int>(index)) << id;
        EXPECT_EQ(Scan(OneEntry(ArchiveBuilder().CompressId(id))).Count(), 1u) << id;
    }
}

TEST(ArchiveHeader, RecognizeCallbackDecidesUnknownIdentifiers) {
    TCompress reader;
    std::vector<std::string> asked;
    reader.OnRecognize = [&](const std::string& id, bool& recognized) {
        asked.push_back(id);
        EXPECT_FALSE(recognized) << "the callback starts from 'not recognised'";
        recognized = id == "ABC";
    };
    EXPECT_EQ(reader.RecognizeCompressID("ABC"), kCustomCompressIndex);
    EXPECT_EQ(reader.RecognizeCompressID("LZH"), 2) << "built-in identifiers never reach the callback";
    EXPECT_EQ(ErrorOf<EUnrecognizedCompressionMethod>(OneEntry(ArchiveBuilder().CompressId("XYZ")), reader),
              "Unrecognized compression method: \"XYZ\" in header");
    EXPECT_EQ(asked, (std::vector<std::string>{"ABC", "XYZ"}));

    support::MemoryStream stream(OneEntry(ArchiveBuilder().CompressId("ABC")));
    EntryList list;
    reader.ScanArchiveStream(stream, list);
    EXPECT_EQ(list.Count(), 1u);
}

TEST(ArchiveHeader, ExtensionWordCompletesTheSizeAndMovesTheFirstEntry) {
    TCompress reader;
    ArchiveHeader header;
    support::MemoryStream plain(OneEntry(ArchiveBuilder().SizeValue(1234)));
    EXPECT_EQ(reader.ReadArchiveHeader(plain, header), 21);
    EXPECT_EQ(header.SizeValue, 1234);

    ArchiveBuilder extended;
    extended.SizeValue(3000000000).Add("A", 1, 1).Add("B", 2, 2);
    support::MemoryStream stream(extended.Build());
    EXPECT_EQ(reader.ReadArchiveHeader(stream, header), 25);
    EXPECT_EQ(header.SizeValue, 3000000000);
    EXPECT_EQ(extended.HeaderOffset(0), 25);
    const EntryList list = Scan(extended.Build());
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Info(0).HeaderOffset, 25);
}

TEST(SizeCompletion, ExtensionCountsInUnitsOfTwoToTheThirtyFirst) {
    EXPECT_EQ(CompleteSize(852516352, 1), 3000000000);
    EXPECT_EQ(CompleteSize(0, 1), 2147483648);
    EXPECT_EQ(CompleteSize(0x7FFFFFFF, 0), 2147483647);
    EXPECT_EQ(CompleteSize(-1, 0), -1) << "a low word with bit 31 set is negative";
    EXPECT_EQ(CompleteSize(0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF + 0x7FFFFFFFll * (1ll << 31));
    EXPECT_EQ(CompleteSize(INT32_MIN, INT32_MIN), INT32_MIN - (1ll << 62));

    EntryHeader header;
    header.FullSize = 0x7FFFFFFF;
    EXPECT_EQ(TCompress::EntryHeaderSize(header), 25);
    header.FullSize = 0x80000000;
    EXPECT_EQ(TCompress::EntryHeaderSize(header), 33);
    header.CompressedSize = 0x80000000;
    header.FullSize = 1;
    EXPECT_EQ(TCompress::EntryHeaderSize(header), 25) << "only FullSize decides";
}

TEST(ReaderProperties, TargetPathGetsOneTrailingBackslash) {
    TCompress reader;
    EXPECT_EQ(reader.TargetPath(), "");
    reader.SetTargetPath("C:\\out");
    EXPECT_EQ(reader.TargetPath(), "C:\\out\\");
    reader.SetTargetPath("C:\\out\\");
    EXPECT_EQ(reader.TargetPath(), "C:\\out\\");
    reader.SetTargetPath("");
    EXPECT_EQ(reader.TargetPath(), "");
    EXPECT_FALSE(reader.MakeDirectories || reader.ExceptionOnFileError || reader.CheckSpaceBeforeExpand);
    EXPECT_EQ(reader.Key, 0);
    EXPECT_FALSE(reader.OnCompress || reader.OnExpand || reader.OnCheckFile || reader.OnRecognize || reader.OnShowProgress);
}

TEST(ReaderProperties, OwnerDestroysTheReader) {
    support::Component owner;
    TCompress& reader = owner.CreateOwned<TCompress>();
    EXPECT_EQ(reader.Owner(), &owner);
    EXPECT_EQ(owner.ComponentCount(), 1u);
}

TEST(ScanArchiveFile, OpenErrorsPropagateAndTheFileIsClosedAfterHeaderErrors) {
    testing::TempDir dir;
    TCompress reader;
    EntryList list;
    const std::string missing = (dir / "missing.ARC").string();
    try {
        reader.ScanArchiveFile(missing, list);
        FAIL() << "a missing file must raise";
    } catch (const support::EFOpenError& error) {
        EXPECT_EQ(error.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
    }

    const std::string bad = (dir / "bad.ARC").string();
    testing::WriteFile(bad, OneEntry(ArchiveBuilder().ArchiveType(7)));
    EXPECT_THROW(reader.ScanArchiveFile(bad, list), EInvalidHeaderArchiveType);
    EXPECT_NO_THROW(support::FileStream reopened(bad, support::FileMode::OpenReadExclusive))
        << "the reader must close the file on the error path";

    const std::string good = (dir / "good.ARC").string();
    testing::WriteFile(good, OneEntry(ArchiveBuilder()));
    reader.ScanArchiveFile(good, list);
    EXPECT_EQ(testing::Names(list), (std::vector<std::string>{"README.TXT"}));
}

}  // namespace
}  // namespace vexmira::archive
