#pragma once

#include <string>

#include "doctor/processes.h"
#include "serial/device_probe.h"

// Why a COM port cannot be had, in Windows' terms. Windows gives a COM port to one program at
// a time and refuses the others with "access denied", so that is what an open port looks like.

inline std::string AccessDeniedText() {
    return "access denied: another program has it open (Windows lets one program at a time "
           "have a COM port: a terminal, a second Beamclock, a modem or phone tool), or this "
           "user may not open it";
}

inline std::string HeldText(const DeviceProbe&, const std::string&, const ProcessTable&) {
    return "in use by another program";
}
