#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "doctor/report.h"

inline constexpr std::size_t kRecentEvents = 10;
inline constexpr std::size_t kLogTailBytes = 64 * 1024;  // all of the log that is read
inline constexpr const char* kRecentEventsSection = "recent events";

// The last count lines of what the stream holds, read through once.
std::vector<std::string> LastLines(std::istream& in, std::size_t count);

// "the last line", "the last 7 lines".
std::string TheLastLines(std::size_t count);

// The "recent events" section from the desktop program's log file: its last lines, from the
// last kLogTailBytes of a regular file; anything else is said not to be a log.
void AddDesktopEvents(Report& report);
