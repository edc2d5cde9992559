// The marks on Windows: a high-resolution waitable timer sleeps to the mark, its completion
// routine runs on this thread, and a hidden window hears when the clock is set.

#include <windows.h>

#include <chrono>

#include "clock/tick_schedule.h"
#include "qtcore/mark_timer.h"
#include "system/wall_clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

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
HWND CreateTimeChangeWindow(MarkTimer* timer) {
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
void CALLBACK OnMark(LPVOID timer, DWORD, DWORD) {
    static_cast<MarkTimer*>(timer)->Tick();
}

// A high-resolution timer (Windows 10 1803 and later) wakes within a fraction of a millisecond;
// older systems get the plain one, which wakes on the scheduler's next tick.
HANDLE CreateMarkWaitableTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    return timer;
}

}  // namespace

struct MarkTimer::Wait {
    Wait(HANDLE waitableTimer, HWND window) : timer(waitableTimer), timeChangeWindow(window) {}
    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;
    ~Wait() {
        if (timeChangeWindow != nullptr) {
            DestroyWindow(timeChangeWindow);
        }
        CancelWaitableTimer(timer);  // also drops a completion already queued
        CloseHandle(timer);
    }

    HANDLE timer;
    HWND timeChangeWindow;
};

MarkTimer::MarkTimer(QObject* parent) : QObject(parent) {
    HANDLE timer = CreateMarkWaitableTimer();
    if (timer == nullptr) {
        fallback_.setSingleShot(true);
        fallback_.setTimerType(Qt::PreciseTimer);
        connect(&fallback_, &QTimer::timeout, this, &MarkTimer::Tick);
        return;
    }
    wait_ = std::make_unique<Wait>(timer, CreateTimeChangeWindow(this));
}

MarkTimer::~MarkTimer() = default;

std::int64_t MarkTimer::WallMinusSteady() {
    using namespace std::chrono;
    return WallClockMilliseconds() -
           duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void MarkTimer::Arm() {
    wallMinusSteady_ = WallMinusSteady();
    if (wait_ == nullptr) {
        std::int64_t now = WallClockMilliseconds();
        fallback_.start(static_cast<int>(NextMarkAfter(now, 1000) - now));
        return;
    }
    // A relative wait, measured now: the timer is set again at every tick and whenever the
    // clock is set, so it never follows a stale clock.
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    std::int64_t nowTicks =
        static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    LARGE_INTEGER due{};
    due.QuadPart = -(NextMarkAfter(nowTicks, 10'000'000) - nowTicks);  // in 100 ns ticks
    SetWaitableTimer(wait_->timer, &due, 0, OnMark, this, FALSE);
}
