#include "clock/tick_schedule.h"

std::int64_t NextMark(std::int64_t now, std::int64_t period) {
    std::int64_t intoPeriod = ((now % period) + period) % period;  // a floor modulo
    return now - intoPeriod + period;
}

std::int64_t NextNeededMark(std::int64_t now, std::int64_t second) {
    std::int64_t next = NextMark(now, second);
    std::int64_t lastTenth = next - second / 10;
    bool inOddSecond = (next / second) % 2 == 0;  // the next second is even
    return inOddSecond && lastTenth > now ? lastTenth : next;
}

int MillisecondsToNextMark(std::int64_t unixMilliseconds) {
    return static_cast<int>(NextMark(unixMilliseconds, kTickPeriodMs) - unixMilliseconds);
}
