#pragma once

#include "clock/calendar.h"
#include "clock/pc_clock.h"

// The instant of the reading in UTC, to the second. The offset applied is the one the PC's
// zone rules give for that very instant, daylight saving included.
CalendarValue CurrentUtcCalendarValue(const PcClockReading& reading);
