#include "clock/utc.h"

#include <gtest/gtest.h>

#include "clock/packet.h"
#include "support/time_zone.h"

namespace {

constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kIndia = "IST-5:30";

}  // namespace

TEST(ReadingAt, GivesFixedFormLocalTexts) {
    ScopedTimeZone zone(kBerlin);
    PcClockReading reading = ReadingAt(UtcInstant(2026, 12, 6, 13, 5, 9));
    EXPECT_EQ(reading.timeText, "14:05:09");
    EXPECT_EQ(reading.dateText, "12-06-2026");
}

TEST(CurrentUtcCalendarValue, WestOfGreenwichLateEveningIsTomorrowInUtc) {
    ScopedTimeZone zone(kNewYork);
    PcClockReading reading = ReadingAt(UtcInstant(2026, 12, 7, 4, 30, 15));
    EXPECT_EQ(reading.timeText, "23:30:15");
    EXPECT_EQ(reading.dateText, "12-06-2026");
    EXPECT_EQ(CurrentUtcCalendarValue(reading), (CalendarValue{2026, 12, 7, 4, 30, 15}));
    EXPECT_EQ(BuildUtcPacket(CurrentUtcCalendarValue(reading)),
              "*153004071220260000000001000000000#");
}

TEST(CurrentUtcCalendarValue, EastOfGreenwichLateEveningIsTheSameDay) {
    ScopedTimeZone zone(kBerlin);
    PcClockReading reading = ReadingAt(UtcInstant(2026, 12, 6, 22, 30, 0));
    EXPECT_EQ(reading.timeText, "23:30:00");
    EXPECT_EQ(CurrentUtcCalendarValue(reading), (CalendarValue{2026, 12, 6, 22, 30, 0}));
}

TEST(CurrentUtcCalendarValue, DayMonthAndYearRollOverTogether) {
    ScopedTimeZone zone(kNewYork);
    PcClockReading newYearsEve = ReadingAt(UtcInstant(2027, 1, 1, 2, 0, 0));
    EXPECT_EQ(newYearsEve.dateText, "12-31-2026");
    EXPECT_EQ(CurrentUtcCalendarValue(newYearsEve), (CalendarValue{2027, 1, 1, 2, 0, 0}));

    PcClockReading endOfFebruary = ReadingAt(UtcInstant(2028, 3, 1, 1, 0, 0));  // leap year
    EXPECT_EQ(endOfFebruary.dateText, "02-29-2028");
    EXPECT_EQ(CurrentUtcCalendarValue(endOfFebruary), (CalendarValue{2028, 3, 1, 1, 0, 0}));
}

TEST(CurrentUtcCalendarValue, HalfHourZoneMovesMinutesButNeverSeconds) {
    ScopedTimeZone zone(kIndia);
    PcClockReading reading = ReadingAt(UtcInstant(2026, 6, 1, 10, 0, 37));
    EXPECT_EQ(reading.timeText, "15:30:37");
    CalendarValue utc = CurrentUtcCalendarValue(reading);
    EXPECT_EQ(utc.minute, 0);
    EXPECT_EQ(utc.second, 37);
    EXPECT_EQ(BuildUtcPacket(utc).substr(1, 2),
              BuildLocalPacket(reading.timeText, "").substr(1, 2));
}

TEST(CurrentUtcCalendarValue, UsesTheOffsetInForceAfterADaylightSavingChange) {
    ScopedTimeZone zone(kNewYork);
    // Clocks went forward at 02:00 EST on 8 March 2026.
    PcClockReading before = ReadingAt(UtcInstant(2026, 3, 8, 6, 30, 0));
    PcClockReading after = ReadingAt(UtcInstant(2026, 3, 8, 7, 30, 0));
    EXPECT_EQ(before.timeText, "01:30:00");
    EXPECT_EQ(after.timeText, "03:30:00");
    EXPECT_EQ(CurrentUtcCalendarValue(after).hour, 7);
    // Back at 02:00 EDT on 1 November: 01:30 happens twice, and each has its own UTC hour.
    PcClockReading firstPass = ReadingAt(UtcInstant(2026, 11, 1, 5, 30, 0));
    PcClockReading secondPass = ReadingAt(UtcInstant(2026, 11, 1, 6, 30, 0));
    EXPECT_EQ(firstPass.timeText, secondPass.timeText);
    EXPECT_EQ(CurrentUtcCalendarValue(firstPass).hour, 5);
    EXPECT_EQ(CurrentUtcCalendarValue(secondPass).hour, 6);
}

TEST(CurrentUtcCalendarValue, FarFutureInstantsWork) {
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(CurrentUtcCalendarValue(ReadingAt(UtcInstant(2038, 1, 19, 3, 14, 8))),
              (CalendarValue{2038, 1, 19, 3, 14, 8}));
    PcClockReading last = ReadingAt(UtcInstant(9999, 12, 31, 23, 59, 59));
    EXPECT_EQ(last.dateText, "12-31-9999");
    EXPECT_EQ(BuildUtcPacket(CurrentUtcCalendarValue(last)),
              BuildLocalPacket(last.timeText, last.dateText));
}
