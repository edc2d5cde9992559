#include "clock/pc_clock.h"

#include <cstdio>

#include "system/wall_clock.h"

PcClockReading ReadingAt(std::int64_t unixSeconds, int millisecond) {
    FollowZoneChanges();  // picks up a zone the user changed while we run
    std::tm local = LocalFields(unixSeconds);
    char timeText[32];
    char dateText[32];
    // Fixed forms, never the user's regional settings.
    std::snprintf(timeText, sizeof timeText, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                  local.tm_sec);
    std::snprintf(dateText, sizeof dateText, "%02d-%02d-%04d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    return {unixSeconds, millisecond, timeText, dateText};
}

PcClockReading SystemPcClock::Read() const {
    WallTime now = WallClockNow();
    return ReadingAt(now.seconds, static_cast<int>(now.nanoseconds / 1'000'000));
}
