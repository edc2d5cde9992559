#include <sys/prctl.h>

#include <cstdlib>

#include "log/event_log.h"
#include "qtcore/process.h"

// The ticks sleep to the wall clock's marks; let the kernel wake us on them, not 50 us on.
void LetTheTicksWakeOnTheMarks() {
    ::prctl(PR_SET_TIMERSLACK, 1UL);
}

// With no display at all the program still does its job: packets flow, nothing is shown.
bool RunOffscreenWithoutADisplay() {
    if (std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("DISPLAY") != nullptr ||
        std::getenv("WAYLAND_DISPLAY") != nullptr) {
        return false;
    }
    Log().Message(Priority::Notice, "no display: running without a window, packets still flow");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}
