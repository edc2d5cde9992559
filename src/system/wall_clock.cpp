#include "system/wall_clock.h"

std::int64_t WallClockMilliseconds() {
    WallTime now = WallClockNow();
    return now.seconds * 1000 + now.nanoseconds / 1'000'000;
}
