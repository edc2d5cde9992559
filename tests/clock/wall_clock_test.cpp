#include "clock/wall_clock.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(WallClock, ReadsTheSecondTheCLibraryReadsWithItsFraction) {
    std::int64_t before = std::time(nullptr);
    WallTime now = WallClockNow();
    std::int64_t millis = WallClockMilliseconds();
    std::int64_t after = std::time(nullptr);
    EXPECT_GE(now.seconds, before);
    EXPECT_LE(now.seconds, after);
    EXPECT_GE(now.nanoseconds, 0);
    EXPECT_LT(now.nanoseconds, 1'000'000'000);
    EXPECT_GE(millis, before * 1000);
    EXPECT_LT(millis, (after + 1) * 1000);
}
