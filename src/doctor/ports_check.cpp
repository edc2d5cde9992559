#include "doctor/ports_check.h"

#include <algorithm>
#include <vector>

#include "doctor/device_manager.h"
#include "serial/device_probe.h"
#include "serial/port_names.h"

#ifdef _WIN32
#include "doctor/port_reasons_windows.h"
#else
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr const char* kMissing = "no such port";
#else
constexpr const char* kMissing = "no such device";

std::string HeldText(const DeviceProbe& probe, const std::string& device,
                     const ProcessTable& processes) {
    if (const Process* holder = processes.LockHolder(device, probe.lockPid)) {
        return "held by " + DescribeHolder(*holder) + " (" + probe.how + ")";
    }
    // An exclusive open does not say who made it: name whoever has the device open.
    std::string open;
    for (const Process* process : processes.Holding(device)) {
        if (process->pid != ::getpid()) {
            open += (open.empty() ? "" : ", ") + Describe(*process);
        }
    }
    std::string text = "held by another program (" + probe.how + ")";
    return open.empty() ? text : text + "; open in " + open;
}
#endif

// The process that holds the device, by its lock or, for this account's own, its open files.
const Process* Holder(const std::string& device, const ProcessTable& processes) {
    if (const Process* holder = processes.LockHolder(device, ProbeDevice(device).lockPid)) {
        return holder;
    }
    std::vector<const Process*> open = processes.Holding(device);
    auto beamclock = std::find_if(open.begin(), open.end(), [](const Process* process) {
        return process->name == kDesktopProgram || process->service;
    });
    return beamclock != open.end() ? *beamclock : nullptr;
}

// Whether another program has the device. Windows answers "access denied" for a COM port
// another program has open.
bool InUse(DeviceState state) {
#ifdef _WIN32
    return state == DeviceState::HeldByAnother || state == DeviceState::PermissionDenied;
#else
    return state == DeviceState::HeldByAnother;
#endif
}

}  // namespace

#ifndef _WIN32
std::optional<DeviceFacts> DeviceFactsOf(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return std::nullopt;
    }
    passwd* owner = ::getpwuid(info.st_uid);
    group* members = ::getgrgid(info.st_gid);
    return DeviceFacts{info.st_mode, info.st_uid, info.st_gid,
                       owner != nullptr ? owner->pw_name : std::to_string(info.st_uid),
                       members != nullptr ? members->gr_name : std::to_string(info.st_gid)};
}
#endif

void CheckPorts(const SettingsVerdict& settings, const Account& account,
                const ProcessTable& processes, Report& report) {
    std::map<int, DeviceManagerEntry> deviceManager = DeviceManagerPorts();
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        std::string device = settings.names.DeviceFor(number);
        bool mapped = device != DefaultDeviceForPort(number);
        bool isChosen = settings.port == number;
        DeviceProbe probe = ProbeDevice(device);
        std::string text;
        switch (probe.state) {
            case DeviceState::Free:
                text = "available";
                break;
            case DeviceState::Missing:
                text = mapped ? std::string(kMissing) + " ([Ports] maps the port to this path)"
                              : kMissing;
                break;
            case DeviceState::PermissionDenied: {
#ifdef _WIN32
                text = AccessDeniedText();
#else
                std::optional<DeviceFacts> facts = DeviceFactsOf(device);
                text = facts ? PermissionAdvice(*facts, account.Facts()) : "permission denied";
#endif
                break;
            }
            case DeviceState::HeldByAnother:
                text = HeldText(probe, device, processes);
                break;
            case DeviceState::NotATerminal:
                text = "not a terminal device";
                break;
            case DeviceState::OtherError:
                text = "cannot be opened: " + probe.how;
                break;
        }
        Level level = isChosen && probe.state != DeviceState::Free ? Level::Problem : Level::Ok;
        if (isChosen && InUse(probe.state)) {
            const Process* holder = Holder(device, processes);
            if (holder != nullptr && holder->service) {
                level = Level::Note;  // the clock is set, only not by this account's program
            } else if (holder != nullptr && holder->name == kDesktopProgram &&
                       holder->uid == account.uid) {
                level = Level::Ok;
                text = "in use by the running Beamclock, as it should be";
            }
        }
        if (auto entry = deviceManager.find(number); entry != deviceManager.end()) {
            text += "; Device Manager: " + Describe(entry->second);
        }
        report.Add("ports", "COM" + std::to_string(number) + (isChosen ? " (chosen)" : ""), level,
                   device + ": " + text);
    }
}

void CheckRunning(const SettingsVerdict& settings, const Account& account,
                  const ProcessTable& processes, Report& report) {
    std::string device = settings.ChosenDevice();
    const Process* holder = device.empty() ? nullptr : Holder(device, processes);
    bool mine = false;
    for (const Process* process : processes.Named(kDesktopProgram)) {
        if (process->uid != account.uid || process->service) {
            report.Add("running", kDesktopProgram, Level::Note,
                       Describe(*process) + " runs for another user");
            continue;
        }
        mine = true;
        report.Add("running", kDesktopProgram, Level::Ok,
                   Describe(*process) + " runs for this user" +
                       (process->folder.empty() ? "" : " from " + process->folder) +
                       (device.empty()      ? ""
                        : holder == process ? "; it holds the chosen port " + device
                                            : "; it does not hold the chosen port " + device));
    }
    if (!mine) {
        report.Add("running", kDesktopProgram, Level::Note,
                   "nothing runs for this user: no Beamclock of this account sets the clock now");
    }
    for (const Process* process : processes.Services()) {
        report.Add("running", kServiceProgram, Level::Note,
                   Describe(*process) + " runs as the service" +
                       (holder == process ? " and holds " + device : "") +
                       "; beamclock-doctor --service checks it as the service sees the box");
    }
}
