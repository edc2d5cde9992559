#include "doctor/service_check.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "clock/sync_wait.h"
#include "doctor/ports_check.h"
#include "doctor/run_for_output.h"
#include "doctor/settings_check.h"
#include "serial/device_access.h"
#include "serial/device_probe.h"
#include "system/wall_clock.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "service";
constexpr const char* kPortSection = "port";

// Read for a file, search for a folder, as neither root nor the owner.
bool MayReadAs(const struct stat& info, gid_t group, bool folder) {
    mode_t need = folder ? S_IXOTH : S_IROTH;
    if (info.st_gid == group) {
        need = folder ? S_IXGRP : S_IRGRP;
    }
    return (info.st_mode & need) != 0;
}

void CheckUnit(const UnitState& unit, const std::string& unitName, Report& report) {
    if (!unit.known) {
        report.Add(kSection, unitName, Level::Note, "systemd cannot be asked about it");
    } else if (!unit.installed) {
        report.Add(kSection, unitName, Level::Problem,
                   "not installed: the package beamclockd brings it");
    } else {
        if (!unit.active && !unit.enabled) {
            report.Add(kSection, unitName, Level::Problem,
                       unit.words +
                           "; it does not run and does not start at boot: sudo "
                           "systemctl enable --now " +
                           unitName);
        } else if (!unit.active) {
            report.Add(kSection, unitName, Level::Problem,
                       unit.words +
                           "; it does not run, so it sets nothing (see its recent "
                           "events): sudo systemctl start " +
                           unitName);
        } else if (!unit.enabled) {
            report.Add(kSection, unitName, Level::Note,
                       unit.words +
                           "; it runs, but does not start at boot: sudo systemctl "
                           "enable " +
                           unitName);
        } else {
            report.Add(kSection, unitName, Level::Ok, unit.words);
        }
    }
}

// The names /proc/devices gives a character device's major number, which DeviceAllow=char-KIND
// goes by. Several drivers may share a major ("4 /dev/vc/0", "4 tty", "4 ttyS"), and systemd
// then allows it for any of them.
std::vector<std::string> CharDeviceKinds(dev_t device) {
    std::vector<std::string> kinds;
    std::ifstream devices("/proc/devices");
    bool characters = false;
    for (std::string line; std::getline(devices, line);) {
        unsigned int number = 0;
        char name[64] = "";
        if (line == "Character devices:" || line == "Block devices:") {
            characters = line[0] == 'C';
        } else if (characters && std::sscanf(line.c_str(), "%u %63s", &number, name) == 2 &&
                   number == major(device)) {
            kinds.emplace_back(name);
        }
    }
    return kinds;
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        text += (text.empty() ? "" : ", ") + entry;
    }
    return text;
}

// The group may open the device; so must the unit's sandbox, which opens only the kinds its
// DeviceAllow= names.
void CheckDeviceRules(const std::string& device, const UnitState& unit, const std::string& unitName,
                      Report& report) {
    if (DeviceAllowCovers(unit.deviceAllow, device)) {
        report.Add(kPortSection, "device", Level::Ok, device + ": the group dialout may open it");
        return;
    }
    struct stat info {};
    std::vector<std::string> kinds;
    if (::stat(device.c_str(), &info) == 0) {
        kinds = CharDeviceKinds(info.st_rdev);
    }
    // The last of a shared major's names is the serial driver's ("ttyS" after "tty").
    std::string rule = kinds.empty() ? device : "char-" + kinds.back();
    report.Add(kPortSection, "device", Level::Problem,
               device + ": the group dialout may open it, but the service's sandbox does not (" +
                   Joined(unit.deviceAllow) + "): it needs DeviceAllow=" + rule +
                   " rw, in a drop-in made with sudo systemctl edit " + unitName);
}

// What the service does with a clock that is not synchronised, which the clock check found.
void CheckSyncWait(const fs::path& file, Report& report) {
    ClockSync sync = ReadClockSync();
    if (!sync.known || sync.synchronised) {
        return;
    }
    SyncWait wait;
    wait.ReadSetting(file);
    if (wait.sendsRegardless()) {
        report.Add(kSection, "synchronisation", Level::Note,
                   "the system clock is not synchronised, and the service sends regardless, as "
                   "SendUnsynchronised=True in [Service] of " +
                       file.string() + " says: the clock shows whatever this box does");
    } else {
        report.Add(kSection, "synchronisation", Level::Problem,
                   std::string("the service sends nothing until the system clock is "
                               "synchronised: start a time source (sudo systemctl enable --now "
                               "systemd-timesyncd, or chrony) or, where this box's clock is right "
                               "without one, put SendUnsynchronised=True in [Service] of ") +
                       file.string());
    }
}

void CheckDevice(const std::string& device, gid_t dialout, const UnitState& unit,
                 const ServiceInstance& instance, const ProcessTable& processes, Report& report) {
    std::optional<DeviceFacts> facts = DeviceFactsOf(device);
    if (!facts) {
        report.Add(kPortSection, "device", Level::Problem, device + ": no such device");
        return;
    }
    // The service's user is made up at its start: never root, never a device's owner, and in
    // the group dialout alone.
    if (MayReadWrite(*facts, static_cast<uid_t>(-1), {dialout})) {
        CheckDeviceRules(device, unit, instance.Unit(), report);
    } else {
        report.Add(kPortSection, "device", Level::Problem,
                   device + ": the group dialout may not open it: " + WhoMayOpen(*facts) +
                       " may; an administrator must change the device's permissions (a udev "
                       "rule), for instance to group dialout with mode 0660");
    }
    const Process* holder = processes.FlockHolder(device);
    DeviceProbe probe = ProbeDevice(device);
    // 1.0.2 held its port by an exclusive open, not an flock; root may not see whose.
    std::vector<const Process*> leftRunning = processes.LeftRunning();
    std::vector<const Process*> open = processes.Holding(device);
    auto left =
        std::find_first_of(open.begin(), open.end(), leftRunning.begin(), leftRunning.end());
    bool leftHolds = left != open.end();
    if (holder == nullptr && !leftRunning.empty() &&
        (leftHolds || probe.state == DeviceState::HeldByAnother)) {
        const Process* likely = leftHolds ? *left : leftRunning.front();
        report.Add(kPortSection, "held", Level::Problem,
                   device + (leftHolds ? ": held by " : ": held, it may be, by ") +
                       Describe(*likely) + ", so the service cannot have it" + HowToEnd(*likely));
    } else if (holder != nullptr && holder->service &&
               (holder->unit.empty() || holder->unit == instance.Unit())) {
        // This unit's own process; another of the box's clocks is in the way like any program.
        report.Add(kPortSection, "held", Level::Ok,
                   device + ": held by " + DescribeHolder(*holder));
    } else if (holder != nullptr) {
        report.Add(kPortSection, "held", Level::Problem,
                   device + ": held by " + DescribeHolder(*holder) +
                       ", so the service cannot "
                       "have it");
    } else {
        report.Add(kPortSection, "held", unit.active ? Level::Problem : Level::Note,
                   device + ": no one holds it" +
                       (unit.active ? ", so the running service does not send to it (see its "
                                      "recent events)"
                                    : ""));
    }
    if (!probe.lockFile.empty()) {
        report.Add(kPortSection, "lock file", Level::Note,
                   device + ": " + probe.lockFile + "; the service does not go by it");
    }
}

}  // namespace

bool DeviceAllowCovers(const std::vector<std::string>& deviceAllow, const std::string& device) {
    struct stat info {};
    if (deviceAllow.empty() || ::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return true;  // systemd was not asked, or there is nothing its rules could be held to
    }
    std::vector<std::string> kinds = CharDeviceKinds(info.st_rdev);
    for (const std::string& entry : deviceAllow) {
        std::size_t space = entry.find(' ');
        std::string pattern = entry.substr(0, space);
        std::string access = space == std::string::npos ? "rwm" : entry.substr(space + 1);
        if (access.find('r') == std::string::npos || access.find('w') == std::string::npos) {
            continue;
        }
        if (pattern.rfind("char-", 0) == 0) {
            for (const std::string& kind : kinds) {
                if (::fnmatch(pattern.c_str() + 5, kind.c_str(), 0) == 0) {
                    return true;
                }
            }
        } else {
            struct stat allowed {};
            if (::stat(pattern.c_str(), &allowed) == 0 && S_ISCHR(allowed.st_mode) &&
                allowed.st_rdev == info.st_rdev) {
                return true;
            }
        }
    }
    return false;
}

fs::path SystemRoot() {
    const char* root = std::getenv("BEAMCLOCK_DOCTOR_ROOT");
    return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/");
}

UnitState UnitFromSystemctl(const std::string& output) {
    UnitState unit;
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        // One line for each entry, all named DeviceAllow.
        if (line.rfind("DeviceAllow=", 0) == 0 && line.size() > equals + 1) {
            unit.deviceAllow.push_back(line.substr(equals + 1));
        }
    }
    unit.known = values.count("LoadState") != 0;
    unit.installed = values["LoadState"] == "loaded";
    unit.enabled = values["UnitFileState"] == "enabled";
    unit.active = values["ActiveState"] == "active";
    unit.words = values["LoadState"] + ", " +
                 (values["UnitFileState"].empty() ? "?" : values["UnitFileState"]) + ", " +
                 values["ActiveState"] + " (" + values["SubState"] + ")";
    return unit;
}

UnitState UnitFromFiles(const fs::path& root, const ServiceInstance& instance,
                        bool serviceProcessRuns) {
    UnitState unit;
    unit.known = true;
    std::error_code error;
    // An instance's unit file is the template's.
    std::string file = instance.name.empty() ? kServiceUnit : "beamclockd@.service";
    for (const char* folder :
         {"etc/systemd/system", "usr/lib/systemd/system", "lib/systemd/system"}) {
        unit.installed = unit.installed || fs::exists(root / folder / file, error);
    }
    unit.enabled = fs::exists(fs::symlink_status(
        root / "etc/systemd/system/multi-user.target.wants" / instance.Unit(), error));
    unit.active = serviceProcessRuns;
    unit.words = std::string(unit.installed ? "installed" : "not installed") +
                 (unit.enabled ? ", enabled" : ", disabled") +
                 (unit.active ? ", running" : ", not running");
    return unit;
}

UnitState QueryUnit(const fs::path& root, const ServiceInstance& instance,
                    const ProcessTable& processes) {
    if (root == "/") {
        CommandOutput systemctl = RunForOutput(
            "systemctl show -p LoadState,UnitFileState,ActiveState,SubState,DeviceAllow " +
            instance.Unit() + " 2>/dev/null");
        if (systemctl.exitStatus == 0 && systemctl.text.find("LoadState=") != std::string::npos) {
            return UnitFromSystemctl(systemctl.text);
        }
    }
    bool runs = false;
    for (const Process* service : processes.Services()) {
        runs = runs || service->unit.empty() || service->unit == instance.Unit();
    }
    return UnitFromFiles(root, instance, runs);
}

// Root asks the kernel: a child of no account and only the group opens the file, so every
// link, "..", folder mode and ACL on the way counts as it does for the service. Nothing
// without root, which cannot change its ids.
std::optional<bool> OpensAsService(const fs::path& file, gid_t group) {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    // Of no account and not the file's owner, as the service's own user is neither.
    struct stat info {};
    uid_t owner = ::stat(file.c_str(), &info) == 0 ? info.st_uid : 0;
    uid_t uid = 65533;
    while (uid > 60000 && (::getpwuid(uid) != nullptr || uid == owner)) {
        --uid;
    }
    if (uid == 60000) {
        return std::nullopt;
    }
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(uid) != 0) {
            ::_exit(2);
        }
        ::_exit(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) >= 0 ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1) {
        return std::nullopt;
    }
    return WEXITSTATUS(status) == 0;
}

bool ServiceMayRead(const fs::path& file, gid_t group) {
    if (std::optional<bool> opens = OpensAsService(file, group)) {
        return *opens;
    }
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !MayReadAs(info, group, false)) {
        return false;
    }
    // The folders on the way to the file, and to what a link names: each must let it through.
    std::error_code error;
    fs::path target = fs::canonical(file, error);
    for (const fs::path& path : {file, error ? file : target}) {
        for (fs::path folder = path.parent_path(); !folder.empty(); folder = folder.parent_path()) {
            if (::stat(folder.c_str(), &info) != 0 || !MayReadAs(info, group, true)) {
                return false;
            }
            if (folder == folder.root_path()) {
                break;
            }
        }
    }
    return true;
}

void CheckService(const fs::path& root, const ServiceInstance& instance,
                  const ProcessTable& processes, Report& report) {
    UnitState unit = QueryUnit(root, instance, processes);
    CheckUnit(unit, instance.Unit(), report);

    group* entry = ::getgrnam("dialout");
    gid_t dialout = entry != nullptr ? entry->gr_gid : static_cast<gid_t>(-1);
    fs::path file = root / instance.SettingsFile();
    std::error_code error;
    bool missing = !fs::exists(file, error) && !error;
    // A link loop, a closed folder, a fifo or a folder in its place: the read check says why.
    bool unsure = !fs::is_regular_file(file, error);
    if (missing) {
        report.Add("settings", "file", Level::Problem,
                   file.string() +
                       " is missing: the service has no port to send to; an "
                       "administrator writes it, with COMPORT in [SerialSync]");
        return;
    }
    if (!unsure && !ServiceMayRead(file, dialout)) {
        report.Add("settings", "file", Level::Problem,
                   file.string() +
                       " cannot be read by the service (a user of its own, in group "
                       "dialout): make it readable by all (mode 0644) and each folder on "
                       "the way to it searchable");
        return;
    }
    if (!unsure) {
        report.Add("settings", "file", Level::Ok, file.string() + ", which the service reads");
    }
    SettingsVerdict settings = CheckSettingsFile(file, report);
    if (settings.port) {
        CheckDevice(settings.ChosenDevice(), dialout, unit, instance, processes, report);
    }
    CheckSyncWait(file, report);
}
