#include "clock/tick_schedule.h"

std::int64_t NextMark(std::int64_t now, std::int64_t period) {
    std::int64_t intoPeriod = ((now % period) + period) % period;  // a floor modulo
    return now - intoPeriod + period;
}

int MillisecondsToNextMark(std::int64_t unixMilliseconds) {
    return static_cast<int>(NextMark(unixMilliseconds, kTickPeriodMs) - unixMilliseconds);
}
