// The progress line's bytes inside the files being examined: each worker's
// meter adds what it has read and takes it back when its file is done.

#include <gtest/gtest.h>

#include "listing/examine.hpp"

namespace vexmira::listing {
namespace {

TEST(ProgressMeter, AddsWhatIsReadAndTakesItBackWhenTheFileIsDone) {
    std::atomic<std::int64_t> inFlight = 0;
    ProgressMeter first(inFlight);
    ProgressMeter second(inFlight);
    first.At(1000);
    second.At(300);
    first.At(700);  // a scan that looks back counts nothing twice
    EXPECT_EQ(inFlight, 1300);
    first.At(5000);
    EXPECT_EQ(inFlight, 5300);
    first.Finish();  // its file now counts among the files done
    EXPECT_EQ(inFlight, 300);
    first.At(200);  // the next file starts from nothing
    EXPECT_EQ(inFlight, 500);
    second.Finish();
    first.Finish();
    EXPECT_EQ(inFlight, 0);
}

}  // namespace
}  // namespace vexmira::listing
