// The marks on Linux: a timerfd on the real-time clock sleeps to the absolute mark, and the
// kernel cancels it when the clock is set.

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "clock/tick_schedule.h"
#include "qtcore/mark_timer.h"
#include "system/wall_clock.h"

struct MarkTimer::Wait {
    explicit Wait(int fd) : timerFd(fd), notifier(fd, QSocketNotifier::Read) {}
    ~Wait() {
        notifier.setEnabled(false);
        ::close(timerFd);
    }

    int timerFd;
    QSocketNotifier notifier;
};

MarkTimer::MarkTimer(QObject* parent) : QObject(parent) {
    int fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        fallback_.setSingleShot(true);
        fallback_.setTimerType(Qt::PreciseTimer);
        connect(&fallback_, &QTimer::timeout, this, &MarkTimer::Tick);
        return;
    }
    wait_ = std::make_unique<Wait>(fd);
    connect(&wait_->notifier, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        // Fails with ECANCELED when the clock was set: the tick then comes at once, and the
        // timer is re-armed on the new clock's next mark. A step forward past the mark may
        // expire the timer before the kernel cancels it: the clocks' offset tells that too.
        bool cancelled =
            ::read(wait_->timerFd, &expirations, sizeof expirations) < 0 && errno == ECANCELED;
        if (cancelled || ClockMoved()) {
            ClockWasSet();
            return;
        }
        Tick();
    });
}

MarkTimer::~MarkTimer() = default;

// The second clock counts a suspend too, so a resume is not a clock set.
std::int64_t MarkTimer::WallMinusSteady() {
    WallTime wall = WallClockNow();
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    return (wall.seconds - boot.tv_sec) * 1000 + (wall.nanoseconds - boot.tv_nsec) / 1'000'000;
}

void MarkTimer::Arm() {
    wallMinusSteady_ = WallMinusSteady();
    if (wait_ == nullptr) {
        std::int64_t now = WallClockMilliseconds();
        fallback_.start(static_cast<int>(NextMarkAfter(now, 1000) - now));
        return;
    }
    WallTime now = WallClockNow();
    std::int64_t next = NextMarkAfter(now.seconds * 1'000'000'000 + now.nanoseconds, 1'000'000'000);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(next / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(next % 1'000'000'000);
    ::timerfd_settime(wait_->timerFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr);
}
