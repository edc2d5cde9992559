#include "clock/wall_clock.h"

#ifdef _WIN32
#include <chrono>
#endif

WallTime WallClockNow() {
#ifdef _WIN32
    // Windows has no 2038 limit to avoid, and no clock_gettime of its own.
    using namespace std::chrono;
    auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    std::int64_t seconds = since / 1'000'000'000;
    std::int64_t rest = since % 1'000'000'000;
#else
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::int64_t seconds = now.tv_sec;
    std::int64_t rest = now.tv_nsec;
#endif
    if (rest < 0) {  // before 1970: keep the fraction positive
        rest += 1'000'000'000;
        seconds -= 1;
    }
    return {seconds, static_cast<std::int32_t>(rest)};
}

std::int64_t WallClockMilliseconds() {
    WallTime now = WallClockNow();
    return now.seconds * 1000 + now.nanoseconds / 1'000'000;
}

void FollowZoneChanges() {
#ifdef _WIN32
    _tzset();
#else
    ::tzset();
#endif
}

std::tm LocalFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
#ifdef _WIN32
    localtime_s(&fields, &instant);
#else
    ::localtime_r(&instant, &fields);
#endif
    return fields;
}

std::tm UtcFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
#ifdef _WIN32
    gmtime_s(&fields, &instant);
#else
    ::gmtime_r(&instant, &fields);
#endif
    return fields;
}
