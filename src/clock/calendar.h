#pragma once

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
