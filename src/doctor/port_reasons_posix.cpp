#include "doctor/port_reasons.h"

#include <unistd.h>

#include "doctor/account.h"
#include "doctor/processes.h"
#include "serial/device_access.h"

namespace {

std::string HeldText(const DeviceProbe& probe, const std::string& device,
                     const ProcessTable& processes) {
    if (const Process* holder = processes.FlockHolder(device)) {
        return "held by " + DescribeHolder(*holder) + " (" + probe.how + ")";
    }
    // An exclusive open does not say who made it: name whoever has the device open.
    std::string open;
    for (const Process* process : processes.Holding(device)) {
        if (process->pid != ::getpid()) {
            open += (open.empty() ? "" : ", ") + Describe(*process) + HowToEnd(*process);
        }
    }
    std::string text = "held by another program (" + probe.how + ")";
    if (!open.empty()) {
        return text + "; open in " + open;
    }
    // Another account's open files are hidden, but a Beamclock an upgrade left running is the
    // likely holder.
    for (const Process* process : processes.LeftRunning()) {
        open += (open.empty() ? "" : ", ") + Describe(*process) + HowToEnd(*process);
    }
    return open.empty() ? text : text + "; perhaps by " + open;
}

}  // namespace

std::string Refusal(const DeviceProbe& probe, const std::string& device, const Account& account,
                    const ProcessTable& processes) {
    switch (probe.state) {
        case DeviceState::Missing:
            return "no such device";
        case DeviceState::PermissionDenied: {
            std::optional<DeviceFacts> facts = DeviceFactsOf(device);
            return facts ? PermissionAdvice(*facts, account.Facts()) : "permission denied";
        }
        default:
            return HeldText(probe, device, processes);
    }
}

bool MayBeInUse(DeviceState state) {
    return state == DeviceState::HeldByAnother;
}
