#include "serial/device_probe.h"

#include "log/event_log.h"

namespace {

std::string StateReason(const DeviceProbe& probe) {
    switch (probe.state) {
        case DeviceState::Free:
            return "the open failed, though the device looks free";
        case DeviceState::Missing:
            return kNoSuchDevice;
        case DeviceState::PermissionDenied:
            return "permission denied" + (probe.how.empty() ? "" : " (" + probe.how + ")");
        case DeviceState::HeldByAnother:
            return kHeldByAnother + (probe.how.empty() ? "" : ", " + probe.how);
        case DeviceState::NotATerminal:
            return "not a serial device";
        case DeviceState::OtherError:
            return probe.how.empty() ? "the open failed" : probe.how;
    }
    return {};
}

}  // namespace

std::string ProbeReason(const DeviceProbe& probe) {
    return StateReason(probe) + (probe.lockFile.empty() ? "" : "; " + probe.lockFile);
}
