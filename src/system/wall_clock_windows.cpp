#include "system/wall_clock.h"

#include <chrono>

// Windows has no 2038 limit to avoid, and no clock_gettime of its own.
WallTime WallClockNow() {
    using namespace std::chrono;
    auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    std::int64_t seconds = since / 1'000'000'000;
    std::int64_t rest = since % 1'000'000'000;
    if (rest < 0) {  // before 1970: keep the fraction positive
        rest += 1'000'000'000;
        seconds -= 1;
    }
    return {seconds, static_cast<std::int32_t>(rest)};
}

void FollowZoneChanges() {
    _tzset();
}

std::tm LocalFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
    localtime_s(&fields, &instant);
    return fields;
}

std::tm UtcFields(std::int64_t unixSeconds) {
    std::time_t instant = static_cast<std::time_t>(unixSeconds);
    std::tm fields{};
    gmtime_s(&fields, &instant);
    return fields;
}

// Windows Time's state takes w32tm to read, which the doctor does; nothing here sends by it.
ClockSync ReadClockSync() {
    return {};
}
