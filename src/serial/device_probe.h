#pragma once

#include <string>

// Why a serial device could or could not be had just now. The program only asks whether it
// is free; the doctor tells the user the reason.
enum class DeviceState {
    Free,
    Missing,           // no such device
    PermissionDenied,  // the user may not open it
    HeldByAnother,     // an exclusive open, an flock, or a live lock file
    NotATerminal,      // a regular file, a directory, a device that is no serial line
    OtherError,
};

struct DeviceProbe {
    DeviceState state = DeviceState::OtherError;
    std::string how;  // for HeldByAnother: "lock file /var/lock/LCK..ttyUSB0 (pid 123)",
                      // "flock" or "exclusive open"; for OtherError: the system's words
    int lockPid = 0;  // the process a lock file names, where one does
};

// Opens and closes the device exactly as the program's availability probe does, and says
// what it found. Leaves nothing open.
DeviceProbe ProbeDevice(const std::string& device);

// Whether the serial device could be had just now: it exists, is a terminal device, and no
// other program holds it (an exclusive open, an flock, or a live UUCP-style lock file, which
// are the ways serial programs on Linux claim a port).
inline bool DeviceIsFree(const std::string& device) {
    return ProbeDevice(device).state == DeviceState::Free;
}

// Why an open failed, in a few words for the log: "no such device", "permission denied" ...
std::string ProbeReason(const DeviceProbe& probe);
