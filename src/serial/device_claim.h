#pragma once

#include <string>

#include "serial/device_probe.h"

// How the program takes a serial device on Linux: opened write-only and non-blocking, a
// terminal, not opened exclusively by another program, and flocked. The adapter keeps what
// it gets; the availability probe lets it go at once. Both come here, so the port list, the
// log and the doctor judge a device exactly as the open does.
struct DeviceClaim {
    int fd = -1;  // open and flocked when the state is Free, else -1
    DeviceState state = DeviceState::OtherError;
    std::string how;              // as DeviceProbe::how
    bool pseudoTerminal = false;  // a Unix98 pseudo-terminal slave
};

DeviceClaim ClaimDevice(const std::string& device);
