#pragma once

#include <string>

// What a command printed and how it ended, for the tools the doctor asks (systemctl and
// journalctl on Linux, w32tm on Windows).
struct CommandOutput {
    std::string text;
    // Its exit status; 127 when it could not be started, 128 when it did not end of itself
    // (killed by a signal, or on Windows still running when its time was up).
    int exitStatus = 127;
};

// Linux: a line for the shell, whose standard output is read. Windows: a command line for
// CreateProcess, whose standard output and errors are read for at most five seconds.
CommandOutput RunForOutput(const std::string& command);
