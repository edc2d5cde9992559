#include "system/wall_clock.h"

#include <time.h>

WallTime WallClockNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

void FollowZoneChanges() {
    ::tzset();
}

std::tm LocalFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
    ::localtime_r(&instant, &fields);
    return fields;
}

std::tm UtcFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
    ::gmtime_r(&instant, &fields);
    return fields;
}
