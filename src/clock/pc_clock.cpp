#include "clock/pc_clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

std::tm LocalTime(std::time_t instant) {
    std::tm fields{};
#ifdef _WIN32
    _tzset();
    localtime_s(&fields, &instant);
#else
    tzset();  // picks up a zone the user changed while we run
    localtime_r(&instant, &fields);
#endif
    return fields;
}

}  // namespace

PcClockReading ReadingAt(std::int64_t unixSeconds, int millisecond) {
    std::tm local = LocalTime(static_cast<std::time_t>(unixSeconds));
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
    using namespace std::chrono;
    auto sinceEpoch = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    auto seconds = sinceEpoch / 1000;
    auto millis = sinceEpoch % 1000;
    if (millis < 0) {  // before 1970: keep the fraction positive
        millis += 1000;
        seconds -= 1;
    }
    return ReadingAt(seconds, static_cast<int>(millis));
}
