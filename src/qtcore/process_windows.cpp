#include "qtcore/process.h"

// The waitable timer sleeps to the mark itself; there is no slack to take away.
void LetTheTicksWakeOnTheMarks() {}

// Windows always has its desktop.
bool RunOffscreenWithoutADisplay() {
    return false;
}
