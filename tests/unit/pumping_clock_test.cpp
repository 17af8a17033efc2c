// Sleeps of device work on the window's thread keep its events flowing.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.h"

namespace raid::platform {
namespace {

TEST(PumpingClock, SleepOnThePumpThreadPumpsAtLeastEverySliceAndTakesTheWholePause) {
    ManualClock inner;
    std::vector<std::uint64_t> pumpedAt;
    PumpingClock clock(inner, std::this_thread::get_id(),
                       [&] { pumpedAt.push_back(inner.NowMs()); });
    clock.SleepMs(200);
    EXPECT_EQ(inner.NowMs(), 200u);  // the controller sees the same pause
    ASSERT_GE(pumpedAt.size(), 2u);
    EXPECT_EQ(pumpedAt.front(), 0u);
    EXPECT_EQ(pumpedAt.back(), 200u);
    for (std::size_t i = 1; i < pumpedAt.size(); ++i)
        EXPECT_LE(pumpedAt[i] - pumpedAt[i - 1], PumpingClock::kSliceMs);

    clock.SleepMs(3);  // shorter than a slice
    EXPECT_EQ(inner.NowMs(), 203u);
}

TEST(PumpingClock, OtherThreadsSleepWithoutPumping) {
    ManualClock inner;
    int pumps = 0;
    PumpingClock clock(inner, std::this_thread::get_id(), [&] { ++pumps; });
    std::thread([&] { clock.SleepMs(200); }).join();
    EXPECT_EQ(pumps, 0);
    EXPECT_EQ(inner.NowMs(), 200u);
}

}  // namespace
}  // namespace raid::platform
