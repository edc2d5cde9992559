// The benchmark's baseline: plain 100 ms timers whose phase is wherever they happened to
// start, and which never hear of a clock set. Chosen by the baseline's target in place of the
// platform's file.

#include <chrono>

#include "clock/tick_schedule.h"
#include "qtcore/mark_timer.h"
#include "system/wall_clock.h"

struct MarkTimer::Wait {};

MarkTimer::MarkTimer(QObject* parent) : QObject(parent) {
    fallback_.setInterval(kTickPeriodMs);
    connect(&fallback_, &QTimer::timeout, this, &MarkTimer::Fire);
}

MarkTimer::~MarkTimer() = default;

std::int64_t MarkTimer::WallMinusSteady() {
    using namespace std::chrono;
    return WallClockMilliseconds() -
           duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void MarkTimer::Arm() {
    if (!fallback_.isActive()) {
        fallback_.start();
    }
}
