#include "ui/mark_timer.h"

#include <QSocketNotifier>
#include <chrono>

#include "clock/tick_schedule.h"

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace {

[[maybe_unused]] std::int64_t WallClockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

// The benchmark's baseline build defines BEAMCLOCK_FREE_RUNNING_TIMERS: plain 100 ms timers
// whose phase is wherever they happened to start.
#ifndef BEAMCLOCK_FREE_RUNNING_TIMERS

MarkTimer::MarkTimer(QObject* parent) : QObject(parent) {
#ifdef __linux__
    timerFd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ >= 0) {
        notifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, this);
        notifier_->setEnabled(false);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            // Fails with ECANCELED when the clock was set: the tick then comes at once, and the
            // timer is re-armed on the new clock's next mark.
            [[maybe_unused]] ssize_t ignored = ::read(timerFd_, &expirations, sizeof expirations);
            Arm();
            Fire();
        });
        return;
    }
#endif
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, [this] {
        Arm();
        Fire();
    });
}

MarkTimer::~MarkTimer() {
#ifdef __linux__
    if (timerFd_ >= 0) {
        ::close(timerFd_);
    }
#endif
}

void MarkTimer::Start() {
    if (active_) {
        return;
    }
    active_ = true;
    if (notifier_ != nullptr) {
        notifier_->setEnabled(true);
    }
    Arm();
}

void MarkTimer::Arm() {
#ifdef __linux__
    if (timerFd_ >= 0) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        constexpr std::int64_t kPeriodNs = std::int64_t{kTickPeriodMs} * 1'000'000;
        std::int64_t next =
            NextMark(std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec, kPeriodNs);
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(next / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(next % 1'000'000'000);
        ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr);
        return;
    }
#endif
    fallback_.start(MillisecondsToNextMark(WallClockMilliseconds()));
}

#else

MarkTimer::MarkTimer(QObject* parent) : QObject(parent) {
    fallback_.setInterval(kTickPeriodMs);
    connect(&fallback_, &QTimer::timeout, this, &MarkTimer::Fire);
}

MarkTimer::~MarkTimer() = default;

void MarkTimer::Start() {
    if (!active_) {
        active_ = true;
        fallback_.start();
    }
}

void MarkTimer::Arm() {}

#endif

void MarkTimer::Fire() {
    if (handler_) {
        handler_();
    }
}
