#include "qtcore/mark_timer.h"

#include <QSocketNotifier>
#include <chrono>

#include "clock/tick_schedule.h"
#include "system/wall_clock.h"

#ifdef __linux__
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

#ifdef _WIN32
#include <windows.h>

#include <cstdint>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#endif

namespace {

// The wall clock less a clock that only runs on: it moves when the wall clock is set, and
// by as much. On Linux the second one counts a suspend too, so a resume is not a clock set.
[[maybe_unused]] std::int64_t WallMinusSteadyMilliseconds() {
#ifdef __linux__
    WallTime wall = WallClockNow();
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    return (wall.seconds - boot.tv_sec) * 1000 + (wall.nanoseconds - boot.tv_nsec) / 1'000'000;
#else
    using namespace std::chrono;
    return WallClockMilliseconds() -
           duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
#endif
}

// Below this a "set" is the measuring's own noise, or a resume.
constexpr std::int64_t kClockSetAtLeastMs = 5;

#ifdef _WIN32

constexpr wchar_t kTimeChangeWindowClass[] = L"BeamclockTimeChange";

LRESULT CALLBACK TimeChangeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMECHANGE) {
        auto* timer = reinterpret_cast<MarkTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (timer != nullptr) {
            timer->ClockWasSet();
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// WM_TIMECHANGE is broadcast to top-level windows only, so this is one, never shown (a
// message-only window would not hear it).
[[maybe_unused]] HWND CreateTimeChangeWindow(MarkTimer* timer) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = TimeChangeWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kTimeChangeWindowClass;
    RegisterClassW(&windowClass);  // the second timer finds it registered already
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kTimeChangeWindowClass, L"", WS_POPUP, 0, 0, 0,
                                  0, nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(timer));
    }
    return window;
}

// The timer's completion routine: Windows queues it to the thread that set the timer and runs
// it when that thread waits alertably, which Qt's event loop does whenever it is idle (its
// serial port's own completions come the same way). So the mark wakes the one thread that
// ticks, with no thread-pool wait and no message passed between threads.
[[maybe_unused]] void CALLBACK OnMark(LPVOID timer, DWORD, DWORD) {
    static_cast<MarkTimer*>(timer)->Tick();
}

// A high-resolution timer (Windows 10 1803 and later) wakes within a fraction of a millisecond;
// older systems get the plain one, which wakes on the scheduler's next tick.
[[maybe_unused]] HANDLE CreateMarkWaitableTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    return timer;
}

#endif

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
            if (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == ECANCELED) {
                ClockWasSet();
                return;
            }
            Tick();
        });
        return;
    }
#endif
#ifdef _WIN32
    waitableTimer_ = CreateMarkWaitableTimer();
    if (waitableTimer_ != nullptr) {
        timeChangeWindow_ = CreateTimeChangeWindow(this);
        return;
    }
#endif
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &MarkTimer::Tick);
}

MarkTimer::~MarkTimer() {
#ifdef __linux__
    if (timerFd_ >= 0) {
        ::close(timerFd_);
    }
#endif
#ifdef _WIN32
    if (timeChangeWindow_ != nullptr) {
        DestroyWindow(static_cast<HWND>(timeChangeWindow_));
    }
    if (waitableTimer_ != nullptr) {
        CancelWaitableTimer(waitableTimer_);  // also drops a completion already queued
        CloseHandle(waitableTimer_);
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

void MarkTimer::ClockWasSet() {
    if (!active_) {
        return;
    }
    std::int64_t step = WallMinusSteadyMilliseconds() - wallMinusSteady_;
    if (clockSet_ && (step >= kClockSetAtLeastMs || step <= -kClockSetAtLeastMs)) {
        clockSet_(step);
    }
    Tick();
}

void MarkTimer::Tick() {
    Arm();
    Fire();
}

void MarkTimer::Arm() {
    wallMinusSteady_ = WallMinusSteadyMilliseconds();
#ifdef __linux__
    if (timerFd_ >= 0) {
        WallTime now = WallClockNow();
        constexpr std::int64_t kPeriodNs = std::int64_t{kTickPeriodMs} * 1'000'000;
        std::int64_t next = NextMark(now.seconds * 1'000'000'000 + now.nanoseconds, kPeriodNs);
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(next / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(next % 1'000'000'000);
        ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr);
        return;
    }
#endif
#ifdef _WIN32
    if (waitableTimer_ != nullptr) {
        // A relative wait, measured now: the timer is set again at every tick and whenever the
        // clock is set, so it never follows a stale clock.
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        std::int64_t nowTicks = static_cast<std::int64_t>(
            (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
        constexpr std::int64_t kPeriodTicks = std::int64_t{kTickPeriodMs} * 10'000;  // 100 ns each
        LARGE_INTEGER due{};
        due.QuadPart = -(NextMark(nowTicks, kPeriodTicks) - nowTicks);
        SetWaitableTimer(waitableTimer_, &due, 0, OnMark, this, FALSE);
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

void MarkTimer::ClockWasSet() {}

#endif

void MarkTimer::Fire() {
    if (handler_) {
        handler_();
    }
}
