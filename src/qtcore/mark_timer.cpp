#include "qtcore/mark_timer.h"

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

void MarkTimer::Tick() {
    Arm();
    Fire();
}

void MarkTimer::Fire() {
    if (handler_) {
        handler_();
    }
}
