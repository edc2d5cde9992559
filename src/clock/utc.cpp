#include "clock/utc.h"

#include <ctime>

CalendarValue CurrentUtcCalendarValue(const PcClockReading& reading) {
    std::time_t instant = static_cast<std::time_t>(reading.unixSeconds);
    std::tm fields{};
#ifdef _WIN32
    gmtime_s(&fields, &instant);
#else
    gmtime_r(&instant, &fields);
#endif
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
            fields.tm_hour,        fields.tm_min,     fields.tm_sec};
}
