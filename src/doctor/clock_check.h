#pragma once

#include <cstdint>
#include <string>

#include "doctor/report.h"

// The PC clock: whether the system says it is synchronised, the time zone and its offset now,
// and the next daylight-saving change within a year. For the service, an unsynchronised clock
// is not said to reach the wall clock: the service's own check tells what it does with one.
void CheckClock(Report& report, bool forTheService = false);

// The first instant after from, within a year, at which the local UTC offset changes; 0 when
// there is none. Works in the zone the TZ variable or the system gives.
std::int64_t NextOffsetChange(std::int64_t from);

// "UTC-05:00 (EST)" for the zone in force at an instant.
std::string OffsetText(std::int64_t instant);
