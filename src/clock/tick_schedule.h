#pragma once

#include <cstdint>

inline constexpr int kTickPeriodMs = 100;

// The first multiple of period after now: the next mark of a clock that ticks every period.
// Works in any unit, and before 1970 too.
std::int64_t NextMark(std::int64_t now, std::int64_t period);

// The marks of a program with no display to refresh (the service): the start of every second,
// for its packet, and the last tenth of every odd second, for the reopen before the even one.
// The same packets as on every 100 ms mark, from a sixth of the wake-ups. In any unit, second
// being one second in it; the seconds since 1970 and since 1601 agree on which are odd.
std::int64_t NextNeededMark(std::int64_t now, std::int64_t second);

// How long to wait from this instant (milliseconds since 1970, whole milliseconds as the
// clock gives them) until the next 100 ms mark of the wall clock: x.000, x.100 ... x.900 s.
// Waiting the whole milliseconds up to the mark lands at or just after it, never before, so
// the tick on x.000 already sees the new second. Between 1 and 100 ms.
int MillisecondsToNextMark(std::int64_t unixMilliseconds);
