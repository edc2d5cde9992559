#pragma once

#include <cstdint>
#include <ctime>

// The wall clock and its calendar fields, read through the C library alone. On a 32-bit
// Linux built with 64-bit time only the C library's functions take their 64-bit forms:
// libstdc++'s system_clock::now() and Qt's QDateTime were compiled with a 32-bit time_t and
// would wrap in 2038. Every reading of the wall clock and every conversion comes here.
struct WallTime {
    std::int64_t seconds = 0;  // since 1970 UTC
    std::int32_t nanoseconds = 0;
};

WallTime WallClockNow();
std::int64_t WallClockMilliseconds();

// Reads the system's zone again, so that the next LocalFields follow a zone the user changed
// while we run.
void FollowZoneChanges();

// The fields at an instant: in the local zone, and in UTC.
std::tm LocalFields(std::int64_t unixSeconds);
std::tm UtcFields(std::int64_t unixSeconds);

// Whether the kernel holds the wall clock synchronised to a time source, as an NTP client
// leaves it (what timedatectl calls "System clock synchronized"). A box without a clock of its
// own boots with the time it had at shutdown: until then its time is no one's.
struct ClockSync {
    bool known = false;  // the system says; Windows and a forbidden call do not
    bool synchronised = false;
    double estimatedErrorMs = 0;
    double maximumErrorMs = 0;
};
ClockSync ReadClockSync();
