#include "doctor/port_reasons.h"

// Windows gives a COM port to one program at a time and answers the others "access denied",
// as it answers a user who may not open it: which of the two, it does not say.
std::string Refusal(const DeviceProbe& probe, const std::string&, const Account&,
                    const ProcessTable&) {
    switch (probe.state) {
        case DeviceState::Missing:
            return "no such port";
        case DeviceState::PermissionDenied:
            return "access denied: another program has it open, or this user may not";
        default:
            return probe.how;  // "in use by another program"
    }
}

bool MayBeInUse(DeviceState state) {
    return state == DeviceState::HeldByAnother || state == DeviceState::PermissionDenied;
}
