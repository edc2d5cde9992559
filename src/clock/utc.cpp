#include "clock/utc.h"

#include "system/wall_clock.h"

CalendarValue CurrentUtcCalendarValue(const PcClockReading& reading) {
    std::tm fields = UtcFields(reading.unixSeconds);
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
            fields.tm_hour,        fields.tm_min,     fields.tm_sec};
}
