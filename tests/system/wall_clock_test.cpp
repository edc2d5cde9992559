#include "system/wall_clock.h"

#include <gtest/gtest.h>

#include <time.h>

namespace {

// Not time(): glibc reads that from the coarse clock, which can still be in the last second
// for a few milliseconds after the precise clock has turned.
std::int64_t PreciseSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

}  // namespace

TEST(WallClock, ReadsTheSecondTheCLibraryReadsWithItsFraction) {
    std::int64_t before = PreciseSeconds();
    WallTime now = WallClockNow();
    std::int64_t millis = WallClockMilliseconds();
    std::int64_t after = PreciseSeconds();
    EXPECT_GE(now.seconds, before);
    EXPECT_LE(now.seconds, after);
    EXPECT_GE(now.nanoseconds, 0);
    EXPECT_LT(now.nanoseconds, 1'000'000'000);
    EXPECT_GE(millis, before * 1000);
    EXPECT_LT(millis, (after + 1) * 1000);
}
