#include "system/wall_clock.h"

#include <time.h>

#ifdef __linux__
#include <sys/timex.h>
#endif

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

ClockSync ReadClockSync() {
    ClockSync sync;
#ifdef __linux__
    timex state{};
    int result = ::adjtimex(&state);  // modes 0: only reads
    if (result < 0) {
        return sync;
    }
    sync.known = true;
    // As timedatectl decides it: a maximum error under the kernel's limit of 16 s. Not
    // STA_UNSYNC, which chrony keeps set while synchronised, to keep the kernel from writing
    // the real-time clock; the kernel sets it anyway once the error reaches the limit.
    sync.synchronised = state.maxerror < 16'000'000;
    sync.estimatedErrorMs = static_cast<double>(state.esterror) / 1000.0;
    sync.maximumErrorMs = static_cast<double>(state.maxerror) / 1000.0;
#endif
    return sync;
}
