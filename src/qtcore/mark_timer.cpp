#include "qtcore/mark_timer.h"

#include "clock/tick_schedule.h"

namespace {

// Below this a "set" is the measuring's own noise, or a resume.
constexpr std::int64_t kClockSetAtLeastMs = 5;

}  // namespace

void MarkTimer::Start() {
    if (active_) {
        return;
    }
    active_ = true;
    Arm();
}

bool MarkTimer::ClockMoved() const {
    std::int64_t step = WallMinusSteady() - wallMinusSteady_;
    return step >= kClockSetAtLeastMs || step <= -kClockSetAtLeastMs;
}

void MarkTimer::ClockWasSet() {
    if (!active_) {
        return;
    }
    std::int64_t step = WallMinusSteady() - wallMinusSteady_;
    if (clockSet_ && (step >= kClockSetAtLeastMs || step <= -kClockSetAtLeastMs)) {
        clockSet_(step);
    }
    Tick();
}

std::int64_t MarkTimer::NextMarkAfter(std::int64_t now, std::int64_t second) const {
    return onlyNeeded_ ? NextNeededMark(now, second) : NextMark(now, second / 1000 * kTickPeriodMs);
}

void MarkTimer::Tick() {
    Arm();
    Fire();
}

void MarkTimer::Fire() {
    if (handler_) {
        handler_();
    }
}
