#pragma once

#include <string>

// Why a serial device could or could not be had just now. The program only asks whether it
// is free; the doctor tells the user the reason.
enum class DeviceState {
    Free,
    Missing,           // no such device
    PermissionDenied,  // the user may not open it
    HeldByAnother,     // an exclusive open or an flock
    NotATerminal,      // a regular file, a directory, a device that is no serial line
    OtherError,
};

struct DeviceProbe {
    DeviceState state = DeviceState::OtherError;
    std::string how;  // for HeldByAnother: "flock" or "exclusive open"; for OtherError: the
                      // system's words
    // Where the shared lock folder has a UUCP-style lock file for the device, which decides
    // nothing for Beamclock but keeps out programs that go by such files: whose it is and
    // whether the process it names runs. Empty where there is none.
    std::string lockFile;
};

// Judges the device exactly as the program's open does, and lets it go at once.
DeviceProbe ProbeDevice(const std::string& device);

// Whether the serial device could be had just now: it exists, is a terminal device, and no
// other program holds it (an exclusive open or an flock, the ways serial programs on Linux
// hold a port).
inline bool DeviceIsFree(const std::string& device) {
    return ProbeDevice(device).state == DeviceState::Free;
}

// Why an open failed, in a few words for the log: "no such device", "permission denied" ...
// and the lock file, where there is one, since it may name who holds the device.
std::string ProbeReason(const DeviceProbe& probe);

// The reason and, where the system tells it, what the user can do: for a device the user may
// not open, its mode and group and whether joining that group would help.
std::string ProbeAdvice(const DeviceProbe& probe, const std::string& device);
