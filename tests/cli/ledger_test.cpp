// Two inputs of one run that map to one output: the second to claim it is
// refused, whether or not the first has written anything there yet, and
// whichever way the folder was reached.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/examine.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::cli {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string ClaimError(OutputLedger& ledger, const support::NativeFolder& folder, const std::string& name,
                       const std::string& input) {
    try {
        ledger.Claim(folder, name, "out/" + name, input);
    } catch (const support::Exception& error) {
        return error.FullMessage();
    }
    return {};
}

TEST(OutputLedger, ASecondInputIsRefusedAPlaceClaimedButNotYetWritten) {
    TempDir dir;
    fs::create_directories(dir / "out");
    fs::create_directory_symlink(dir / "out", dir / "alias");
    const support::NativeFolder out = support::NativeFolder::OpenChain((dir / "out").string(), {}, "x.exe$$$");
    const support::NativeFolder alias = support::NativeFolder::OpenChain((dir / "alias").string(), {}, "x.exe$$$");
    const std::string first = (dir / "x.exe").string();

    OutputLedger ledger;
    EXPECT_EQ(ClaimError(ledger, out, "x.exe$$$", first), "");
    EXPECT_EQ(ClaimError(ledger, out, "x.exe$$$", first), "") << "an input may come back to its own output";
    EXPECT_EQ(ClaimError(ledger, out, "y.exe$$$", "y.exe"), "");

    // Nothing is on disk yet; the claim alone decides, through the link too.
    EXPECT_FALSE(fs::exists(dir / "out/x.exe$$$"));
    for (const support::NativeFolder* folder : {&out, &alias}) {
        const std::string error = ClaimError(ledger, *folder, "x.exe$$$", "lnk/../x.exe");
        EXPECT_NE(error.find("out/x.exe$$$"), std::string::npos) << error;
        EXPECT_NE(error.find("\"" + first + "\""), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace vexmira::cli
