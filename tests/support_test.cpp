// Shared types: error report text, path rules, reparse tags, memory stream, ownership.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/component.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"
#include "support/memory_stream.hpp"
#include "support/path.hpp"

namespace vexmira::support {
namespace {

TEST(ErrorReportText, AppendsAFullStopOnlyAfterBytesAboveTheFullStop) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Archive type must be caMulti", "Archive type must be caMulti."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},        // '!' sorts below '.'
        {"a path/", "a path/."},   // '/' sorts just above it
        {"ends in -", "ends in -"},
        {"caf\xE9", "caf\xE9."},  // 8-bit bytes count as unsigned
    };
    for (const auto& [message, expected] : cases) EXPECT_EQ(ErrorReportText(message), expected) << "message [" << message << "]";
}

TEST(PathRules, ExtensionIsTheTextFromTheLastDotNotFollowedBySeparators) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\data\\SETUP.ARC", ".ARC"}, {"setup.arc", ".arc"},  {"a.tar.ARC", ".ARC"},
        {"dir.ARC\\file", ""},           {"C:file", ""},          {"D:x.ARC", ".ARC"},
        {"noext", ""},                   {"trailing.", "."},      {"x.ARC$$$", ".ARC$$$"},
        {"/posix/dir.v2/file.ARC", ".ARC"},
    };
    for (const auto& [path, extension] : cases) EXPECT_EQ(ExtractFileExt(path), extension) << "path " << path;
}

TEST(PathRules, OnlyTheExactUpperCaseExtensionIsAnArchive) {
    EXPECT_TRUE(IsArcPath("C:\\x\\SETUP.ARC"));
    EXPECT_FALSE(IsArcPath("setup.arc"));
    EXPECT_FALSE(IsArcPath("setup.Arc"));
    EXPECT_FALSE(IsArcPath("SETUP.ARC.exe"));
    EXPECT_FALSE(IsArcPath("ARC"));
    EXPECT_FALSE(IsArcPath(""));
    EXPECT_EQ(SideFilePath("C:\\in\\setup.exe"), "C:\\in\\setup.exe$$$");
}

// Which reparse points in the side file's place are refused. Wine creates no
// reparse points, so the tags are checked here as values.
// The Windows file layer hands these on as the error's errno, from which
// Python picks FileNotFoundError, PermissionError, FileExistsError, ...
TEST(SystemErrors, WindowsCodesMapToTheErrnoTheyStandFor) {
    struct Code {
        std::uint32_t Value;
        const char* Name;
        int Errno;
    };
    const Code codes[] = {
        {2, "ERROR_FILE_NOT_FOUND", ENOENT},   {3, "ERROR_PATH_NOT_FOUND", ENOENT},
        {123, "ERROR_INVALID_NAME", ENOENT},   {206, "ERROR_FILENAME_EXCED_RANGE", ENOENT},
        {5, "ERROR_ACCESS_DENIED", EACCES},    {32, "ERROR_SHARING_VIOLATION", EACCES},
        {33, "ERROR_LOCK_VIOLATION", EACCES},  {80, "ERROR_FILE_EXISTS", EEXIST},
        {183, "ERROR_ALREADY_EXISTS", EEXIST}, {267, "ERROR_DIRECTORY", ENOTDIR},
        {112, "ERROR_DISK_FULL", ENOSPC},      {4, "ERROR_TOO_MANY_OPEN_FILES", EMFILE},
        {8, "ERROR_NOT_ENOUGH_MEMORY", ENOMEM}, {87, "ERROR_INVALID_PARAMETER", EINVAL},
        {0, "ERROR_SUCCESS", 0},               {1, "ERROR_INVALID_FUNCTION", 0},
        {681, "ERROR_STOPPED_ON_SYMLINK", 0},  {0xFFFFFFFF, "past every code", 0},
    };
    for (const Code& code : codes) {
        EXPECT_EQ(ErrnoOfSystemError(code.Value), code.Errno) << code.Name << " (" << code.Value << ")";
    }
}

TEST(ReparseTags, OnlyLinksAndMountPointsAreRefused) {
    struct Tag {
        std::uint32_t Value;
        const char* Name;
        bool Refused;
    };
    const Tag tags[] = {
        {0xA000000C, "symbolic link", true},
        {0xA0000003, "mount point (junction)", true},
        {0xA000001D, "Linux subsystem symbolic link", true},
        {0x9000001A, "cloud placeholder", false},
        {0x9000101A, "cloud placeholder, first variant", false},
        {0x9000F01A, "cloud placeholder, last variant", false},
        {0x80000013, "deduplicated", false},
        {0x80000017, "system-compressed (WOF)", false},
        {0x8000001B, "app execution alias", false},
        {0x80000014, "NFS", false},
        {0x00000000, "no tag", false},
        {0xA000000D, "next to the symbolic link's value", false},
    };
    for (const Tag& tag : tags) EXPECT_EQ(support::IsLinkReparseTag(tag.Value), tag.Refused) << tag.Name;
}

TEST(MemoryStream, SeeksRefuseNegativeAndOverflowingTargets) {
    MemoryStream stream(std::vector<std::uint8_t>{1, 2, 3, 4});
    EXPECT_EQ(stream.Seek(2, SeekOrigin::Beginning), 2);
    EXPECT_EQ(stream.Seek(-3, SeekOrigin::Current), -1);
    EXPECT_EQ(stream.Position(), 2) << "a refused seek leaves the position";
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::Beginning), -1);
    EXPECT_EQ(stream.Seek(std::numeric_limits<std::int64_t>::max(), SeekOrigin::Current), -1);
    EXPECT_EQ(stream.Position(), 2);
    EXPECT_EQ(stream.Seek(100, SeekOrigin::Current), 102) << "past the end is allowed";
    std::uint8_t byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1), 0u);
    EXPECT_EQ(stream.Seek(-101, SeekOrigin::Current), 1);
    EXPECT_EQ(stream.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 2);
}

// A write whose end lies beyond what memory can index is refused whole, never
// wrapped onto the bytes at the start. In a 32-bit build a position just
// below 4 GiB plus a few bytes wraps to a small size_t.
TEST(MemoryStream, WritesBeyondAddressableMemoryFailWithoutWrapping) {
    std::vector<std::int64_t> positions = {std::numeric_limits<std::int64_t>::max() - 8,
                                           static_cast<std::int64_t>(std::vector<std::uint8_t>().max_size()) - 8};
    if constexpr (sizeof(std::size_t) < sizeof(std::int64_t)) positions.push_back((std::int64_t{1} << 32) - 8);
    for (const std::int64_t position : positions) {
        MemoryStream stream(std::vector<std::uint8_t>{1, 2, 3, 4});
        ASSERT_EQ(stream.Seek(position, SeekOrigin::Beginning), position);
        EXPECT_THROW(stream.WriteBuffer("0123456789abcdef", 16), EWriteError) << "position " << position;
        EXPECT_EQ(stream.Bytes(), (std::vector<std::uint8_t>{1, 2, 3, 4})) << "position " << position;
        EXPECT_EQ(stream.Position(), position);
    }
    MemoryStream stream(std::vector<std::uint8_t>{1, 2, 3, 4});
    stream.Seek(6, SeekOrigin::Beginning);
    stream.WriteBuffer("ab", 2);
    EXPECT_EQ(stream.Bytes(), (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 'a', 'b'})) << "a gap is filled with zeros";
}

// A stream whose disk is full after a few bytes.
class ShortWriteStream final : public Stream {
public:
    std::size_t Read(void*, std::size_t) noexcept override { return 0; }
    std::int64_t Seek(std::int64_t, SeekOrigin) noexcept override { return 0; }
    std::int64_t Size() noexcept override { return 0; }
    std::int64_t Position() const noexcept override { return 0; }

protected:
    std::size_t Write(const void*, std::size_t count) noexcept override { return count > 3 ? 3 : count; }
};

TEST(Stream, ShortWritesRaiseTheWriteError) {
    ShortWriteStream stream;
    EXPECT_NO_THROW(stream.WriteBuffer("abc", 3));
    try {
        stream.WriteBuffer("abcd", 4);
        FAIL() << "a short write must raise";
    } catch (const EWriteError& error) {
        EXPECT_EQ(error.Message(), "Stream write error");
    }
}

class Recorder : public Component {
public:
    Recorder(Component* owner, std::vector<int>* log, int id) : Component(owner), log_(log), id_(id) {}
    ~Recorder() override { log_->push_back(id_); }

private:
    std::vector<int>* log_;
    int id_;
};

TEST(Component, OwnerDestroysWhatItOwnsLastFirst) {
    std::vector<int> destroyed;
    {
        Component owner;
        Recorder& first = owner.CreateOwned<Recorder>(&destroyed, 1);
        first.CreateOwned<Recorder>(&destroyed, 11);
        owner.CreateOwned<Recorder>(&destroyed, 2);
        EXPECT_EQ(first.Owner(), &owner);
        EXPECT_EQ(owner.ComponentCount(), 2u);
        EXPECT_TRUE(destroyed.empty());
    }
    EXPECT_EQ(destroyed, (std::vector<int>{2, 1, 11}));
}

}  // namespace
}  // namespace vexmira::support
