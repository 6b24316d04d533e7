// Two inputs of one run that map to one output: the second to claim it is
// refused, whether or not the first has written anything there yet, whichever
// way the folder was reached, and whichever worker gets there first.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "outputs/ledger.hpp"
#include "support/exception.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::outputs {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string ClaimError(OutputLedger& ledger, const Folder& folder, const std::string& name, const std::string& input,
                       std::optional<std::uint64_t> order = std::nullopt) {
    try {
        ledger.Claim(folder, name, "out/" + name, input, name, order);
    } catch (const support::Exception& error) {
        return error.FullMessage();
    }
    return {};
}

TEST(OutputLedger, ASecondInputIsRefusedAPlaceClaimedButNotYetWritten) {
    TempDir dir;
    fs::create_directories(dir / "out");
    fs::create_directory_symlink(dir / "out", dir / "alias");
    const Folder out = Folder::Open((dir / "out").string(), "x.exe$$$");
    const Folder alias = Folder::Open((dir / "alias").string(), "x.exe$$$");
    const std::string first = (dir / "x.exe").string();

    OutputLedger ledger;
    EXPECT_EQ(ClaimError(ledger, out, "x.exe$$$", first), "");
    EXPECT_EQ(ClaimError(ledger, out, "x.exe$$$", first), "") << "an input may come back to its own output";
    EXPECT_EQ(ClaimError(ledger, out, "y.exe$$$", "y.exe"), "");

    // Nothing is on disk yet; the claim alone decides, through the link too.
    EXPECT_FALSE(fs::exists(dir / "out/x.exe$$$"));
    for (const Folder* folder : {&out, &alias}) {
        const std::string error = ClaimError(ledger, *folder, "x.exe$$$", "lnk/../x.exe");
        EXPECT_NE(error.find("out/x.exe$$$"), std::string::npos) << error;
        EXPECT_NE(error.find("\"" + first + "\""), std::string::npos) << error;
    }
}

TEST(OutputLedger, ALaterInputWaitsForEarlierOnesNamedAlikeSoTheFirstNamedHasThePlace) {
    TempDir dir;
    fs::create_directories(dir / "out");
    const Folder out = Folder::Open((dir / "out").string(), "x.exe$$$");
    OutputLedger ledger;
    ledger.Take(0, "x.exe$$$");
    ledger.Take(1, "x.exe$$$");
    ledger.Take(2, "other$$$");

    // The second input gets to its claim first: it waits for the first.
    std::atomic<bool> claimed = false;
    std::string secondError;
    std::thread second([&] {
        secondError = ClaimError(ledger, out, "x.exe$$$", "second.exe", 1);
        claimed = true;
    });
    // An input named otherwise never waits.
    EXPECT_EQ(ClaimError(ledger, out, "other$$$", "third.exe", 2), "");
    EXPECT_EQ(ClaimError(ledger, out, "x.exe$$$", "first.exe", 0), "");
    EXPECT_FALSE(claimed) << "the second claimed before the first was finished: " << secondError;
    ledger.Finish(0, "x.exe$$$");
    second.join();
    EXPECT_NE(secondError.find("first.exe"), std::string::npos) << secondError;
    ledger.Finish(1, "x.exe$$$");
    ledger.Finish(2, "other$$$");
}

}  // namespace
}  // namespace vexmira::outputs
