#pragma once

#include "clock/calendar.h"
#include "clock/pc_clock.h"

// The instant of the reading in UTC, to the second: the calendar fields of its seconds since
// 1970, which count UTC already. No zone offset is applied, so the zone and its daylight saving
// cannot move it; the local texts of the same reading come from that same instant.
CalendarValue CurrentUtcCalendarValue(const PcClockReading& reading);
