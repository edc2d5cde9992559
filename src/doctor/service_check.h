#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "doctor/modes.h"
#include "doctor/processes.h"
#include "doctor/report.h"

// The root the service's files are looked for under: BEAMCLOCK_DOCTOR_ROOT where set (a test's
// temporary tree), else "/".
std::filesystem::path SystemRoot();

// What systemd says of the unit.
struct UnitState {
    bool known = false;      // systemd (or the unit files) could be asked
    bool installed = false;  // the unit file is there
    bool enabled = false;    // it starts at boot
    bool active = false;     // it runs now
    std::string words;       // "loaded, enabled, active (running)": systemd's own words
    // The devices its sandbox lets it open, as systemd shows them, one line each ("char-ttyUSB
    // rw"); empty where systemd was not asked.
    std::vector<std::string> deviceAllow;
};

// The output of systemctl show -p LoadState,UnitFileState,ActiveState,SubState.
UnitState UnitFromSystemctl(const std::string& output);
// Without a running systemd (or for a root that is not "/"): the unit files under root;
// whether it runs then follows from a running beamclockd.
UnitState UnitFromFiles(const std::filesystem::path& root, const ServiceInstance& instance,
                        bool serviceProcessRuns);
UnitState QueryUnit(const std::filesystem::path& root, const ServiceInstance& instance,
                    const ProcessTable& processes);

// Whether DeviceAllow= entries like these let the device be opened: "char-KIND" allows every
// device of a major number that /proc/devices names KIND (a glob), a path that one device.
bool DeviceAllowCovers(const std::vector<std::string>& deviceAllow, const std::string& device);

// Whether a user that is neither root nor the owner, with the given groups, may read the file:
// the others' bits, or the group's for a member, on the file and for search on each folder.
bool ServiceMayRead(const std::filesystem::path& file, gid_t group);

// The box as the service sees it: its settings file, the unit, the chosen device as group
// dialout and the unit's device rules let it open, who holds it, and whether it waits for a
// synchronised clock.
void CheckService(const std::filesystem::path& root, const ServiceInstance& instance,
                  const ProcessTable& processes, Report& report);
