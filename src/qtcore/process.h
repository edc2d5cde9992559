#pragma once

// What every Beamclock program with an event loop settles for its whole process, first thing
// in main and before its application object: the ticks wake on the wall clock's marks, the
// log has its sinks (the journal, or standard error and the log file) and Qt's own messages go
// into it, and the system's requests are caught (see SystemRequests).
enum class Program {
    Window,   // without a display it runs offscreen, and says so once
    Service,  // wants no display: Qt's warnings about one say nothing to act on
};
void StartProcess(Program program);

// Each platform's part of it (process_posix.cpp, process_windows.cpp).
void LetTheTicksWakeOnTheMarks();
// True when there is no display to show a window on, and the program now runs offscreen.
bool RunOffscreenWithoutADisplay();
