#pragma once

#include <ctime>

// A date and time to the whole second, in no particular zone.
struct CalendarValue {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const CalendarValue&, const CalendarValue&) = default;
};

// The value as the C library's broken-down time, for timegm and mktime; mktime decides
// whether daylight saving is in force.
inline std::tm CalendarFields(const CalendarValue& value) {
    std::tm fields{};
    fields.tm_year = value.year - 1900;
    fields.tm_mon = value.month - 1;
    fields.tm_mday = value.day;
    fields.tm_hour = value.hour;
    fields.tm_min = value.minute;
    fields.tm_sec = value.second;
    fields.tm_isdst = -1;
    return fields;
}
