#include "doctor/ports_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "doctor/device_manager.h"
#include "doctor/port_reasons.h"
#include "serial/device_probe.h"
#include "serial/port_names.h"

namespace {

// Said of the chosen port in use where the system does not say who has it open.
constexpr const char* kHolderUntold =
    "; the doctor cannot tell who holds it (the system does not say): the running Beamclock, or "
    "another program that keeps it from it";

// The process that holds the device, by its flock or, for this account's own, its open files.
const Process* Holder(const std::string& device, const ProcessTable& processes) {
    if (const Process* holder = processes.FlockHolder(device)) {
        return holder;
    }
    std::vector<const Process*> open = processes.Holding(device);
    auto beamclock = std::find_if(open.begin(), open.end(), [](const Process* process) {
        return process->name == kDesktopProgram || process->service;
    });
    return beamclock != open.end() ? *beamclock : nullptr;
}

bool IsMine(const Process& process, const Account& account) {
    return process.name == kDesktopProgram && !process.service && process.owner == OwnerOf(account);
}

// Whether the process is the copy of the program whose settings these are: one that runs from
// their folder. Where the folder is not known it is taken to be.
bool ReadsTheseSettings(const Process& process, const SettingsVerdict& settings) {
    std::error_code error;
    return process.folder.empty() || settings.besideFile.empty() ||
           std::filesystem::equivalent(process.folder, settings.besideFile.parent_path(), error);
}

}  // namespace

bool RunsFor(const Account& account, const ProcessTable& processes) {
    std::vector<const Process*> named = processes.Named(kDesktopProgram);
    return std::any_of(named.begin(), named.end(),
                       [&](const Process* process) { return IsMine(*process, account); });
}

void CheckPorts(const SettingsVerdict& settings, const Account& account,
                const ProcessTable& processes, Report& report,
                const std::vector<SerialDevice>& present) {
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
            case DeviceState::PermissionDenied:
            case DeviceState::HeldByAnother:
                text = Refusal(probe, device, account, processes);
                break;
            case DeviceState::NotATerminal:
                text = "not a terminal device";
                break;
            case DeviceState::OtherError:
                text = "cannot be opened: " + probe.how;
                break;
        }
        if (probe.state == DeviceState::Missing && mapped) {
            text += " ([Ports] maps the port to this path)";
        }
        if (isChosen && probe.state == DeviceState::Missing) {
            text += MissingDeviceAdvice(present, settings.names);
        }
        // A port nobody chose stops nothing, whatever its state; nor is one that cannot be
        // opened "ok".
        Level level = probe.state == DeviceState::Free ? Level::Ok
                      : isChosen                       ? Level::Problem
                                                       : Level::Info;
        if (isChosen && MayBeInUse(probe.state)) {
            const Process* holder = Holder(device, processes);
            if (holder != nullptr && holder->service) {
                level = Level::Note;  // the clock is set, only not by this account's program
            } else if (holder != nullptr && IsMine(*holder, account)) {
                level = Level::Ok;
                text = "in use by the running Beamclock, as it should be";
            } else if (holder == nullptr && !ProcessTable::ShowsHolders() &&
                       RunsFor(account, processes)) {
                text += kHolderUntold;
            }
        }
        if (!probe.lockFile.empty()) {
            // Worth knowing, as it keeps other serial programs out, but never a problem:
            // Beamclock does not go by lock files.
            text += "; " + probe.lockFile;
            level = level == Level::Ok ? Level::Note : level;
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
    // Where the system does not say who holds a port, one in use may be held by anyone.
    bool untold = !device.empty() && holder == nullptr && !ProcessTable::ShowsHolders() &&
                  MayBeInUse(ProbeDevice(device).state);
    bool mine = false;
    for (const Process* process : processes.Named(kDesktopProgram)) {
        if (!IsMine(*process, account)) {
            report.Add("running", kDesktopProgram, Level::Note,
                       Describe(*process) + " runs for another user" + HowToEnd(*process));
            continue;
        }
        mine = true;
        Level level = Level::Ok;
        std::string port;
        if (device.empty()) {
            // nothing chosen, nothing to hold
        } else if (holder == process) {
            port = "; it holds the chosen port " + device;
        } else if (untold) {
            port = "; whether it holds the chosen port " + device + " cannot be told here";
        } else if (holder != nullptr && holder->service) {
            level = Level::Note;
            port = "; it does not hold the chosen port " + device + ": the service does";
        } else if (!ProcessTable::ShowsHolders()) {
            // A port that is not in use is not held, on Windows; but Wine lets two open one.
            level = Level::Note;
            port = "; it seems not to hold the chosen port " + device +
                   " (the system does not say who holds a port)";
        } else if (!ReadsTheseSettings(*process, settings)) {
            level = Level::Note;
            port = "; it does not hold the chosen port " + device +
                   ", but it runs from another folder, whose settings may choose another";
        } else {
            level = Level::Problem;
            port = "; it does not hold the chosen port " + device + ", so it sets no clock";
        }
        report.Add("running", kDesktopProgram, level,
                   Describe(*process) + " runs for this user" +
                       (process->folder.empty() ? "" : " from " + process->folder) + port);
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
