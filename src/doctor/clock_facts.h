#pragma once

#include <cstdint>
#include <string>

#include "doctor/report.h"

// What the system says about its clock, one small function a fact, so that the clock check
// is written once for every platform. Instants are seconds since 1970.

// The zone's name and where it comes from: "Europe/Berlin", "W. Europe Standard Time".
std::string ZoneName();
// Seconds east of UTC in force at an instant, by the system's own zone rules.
long UtcOffsetAt(std::int64_t instant);
// The name of the offset in force: "CET", "W. Europe Daylight Time".
std::string ZoneAbbreviationAt(std::int64_t instant);
// Whether the system keeps the clock right: a finding of the clock section.
void CheckSynchronisation(Report& report, bool forTheService);
