#include "doctor/ports_check.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "serial/device_probe.h"
#include "serial/port_names.h"

namespace {

bool InGroup(gid_t group, const std::vector<gid_t>& groups) {
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

std::vector<gid_t> ProcessGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    groups.push_back(::getegid());
    return groups;
}

// The groups the account is configured with, which a new login gets.
std::vector<gid_t> AccountGroups(const passwd& account) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return groups;
}

std::string PermissionAdvice(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return "permission denied";
    }
    group* owner = ::getgrgid(info.st_gid);
    std::string groupName = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    passwd* account = ::getpwuid(::geteuid());
    std::string user = account != nullptr ? account->pw_name : std::to_string(::geteuid());
    std::string text = "permission denied: the device belongs to group \"" + groupName + "\"";
    if (InGroup(info.st_gid, ProcessGroups())) {
        return text + ", which you are in; its permissions shut the group out too";
    }
    if (account != nullptr && InGroup(info.st_gid, AccountGroups(*account))) {
        return text + "; you were added to it but this session started before: log out and in";
    }
    return text + ", which you are not in; fix: sudo usermod -aG " + groupName + " " + user +
           ", then log out and in";
}

std::string HeldText(const DeviceProbe& probe, const std::string& device,
                     const ProcessTable& processes) {
    std::string text = "held by another program (" + probe.how + ")";
    const Process* holder = nullptr;
    if (probe.lockPid != 0) {
        holder = processes.Find(probe.lockPid);
    } else if (probe.how == "flock") {
        holder = processes.FlockHolder(device);
    }
    if (holder != nullptr) {
        return text + ": " + Describe(*holder);
    }
    // An exclusive open does not say who made it: name whoever has the device open.
    std::string open;
    for (const Process* process : processes.Holding(device)) {
        if (process->pid != ::getpid()) {
            open += (open.empty() ? "" : ", ") + Describe(*process);
        }
    }
    return open.empty() ? text : text + "; open in " + open;
}

bool HeldByBeamclock(const std::string& device, const ProcessTable& processes) {
    for (const Process* holder : processes.Holding(device)) {
        if (holder->name == "beamclock") {
            return true;
        }
    }
    return false;
}

}  // namespace

void CheckPorts(const std::filesystem::path& besideFile, std::optional<int> chosen,
                const ProcessTable& processes, Report& report) {
    PortNames names = PortNames::FromSettings(besideFile);
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        std::string device = names.DeviceFor(number);
        bool mapped = device != DefaultDeviceForPort(number);
        bool isChosen = chosen == number;
        DeviceProbe probe = ProbeDevice(device);
        std::string text;
        switch (probe.state) {
            case DeviceState::Free:
                text = "available";
                break;
            case DeviceState::Missing:
                text = mapped ? "no such device ([Ports] maps the port to this path)"
                              : "no such device";
                break;
            case DeviceState::PermissionDenied:
                text = PermissionAdvice(device);
                break;
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
        bool ours = isChosen && probe.state == DeviceState::HeldByAnother &&
                    HeldByBeamclock(device, processes);
        Level level = Level::Ok;
        if (isChosen && probe.state != DeviceState::Free && !ours) {
            level = Level::Problem;
        }
        if (ours) {
            text = "in use by the running Beamclock, as it should be";
        }
        report.Add("ports", "COM" + std::to_string(number) + (isChosen ? " (chosen)" : ""), level,
                   device + ": " + text);
    }
}

void CheckRunning(const std::filesystem::path& besideFile, std::optional<int> chosen,
                  const ProcessTable& processes, Report& report) {
    std::vector<const Process*> running = processes.Named("beamclock");
    for (const Process* service : processes.Named("beamclockd")) {
        running.push_back(service);
    }
    if (running.empty()) {
        report.Add("running", "beamclock", Level::Note,
                   "not running for this user or as the service: nothing sets the clock now");
        return;
    }
    std::string device = chosen ? PortNames::FromSettings(besideFile).DeviceFor(*chosen) : "";
    for (const Process* process : running) {
        std::string whose = process->service             ? "as the service"
                            : process->uid == ::getuid() ? "for this user"
                                                         : "for another user";
        std::vector<const Process*> holders =
            device.empty() ? std::vector<const Process*>{} : processes.Holding(device);
        bool holds = std::find(holders.begin(), holders.end(), process) != holders.end();
        report.Add("running", "beamclock", Level::Ok,
                   Describe(*process) + " runs " + whose +
                       (device.empty() ? ""
                        : holds        ? "; it holds the chosen port " + device
                                       : "; it does not hold the chosen port " + device));
    }
}
