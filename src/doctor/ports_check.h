#pragma once

#include "doctor/processes.h"
#include "doctor/report.h"
#include "doctor/serial_devices.h"
#include "doctor/settings_check.h"

struct Account;

// COM1 to COM16: the device each names and why it can or cannot be had, found by the same
// probe the program's port list uses, for the account. The chosen port's state decides
// whether it is a problem; a missing one is told what is present instead.
void CheckPorts(const SettingsVerdict& settings, const Account& account,
                const ProcessTable& processes, Report& report,
                const std::vector<SerialDevice>& present = {});

// Which Beamclock runs: for this account, for others, as the service; and whether this
// account's holds the chosen port: the copy these settings are for not holding it is a
// problem, since it then sets no clock.
void CheckRunning(const SettingsVerdict& settings, const Account& account,
                  const ProcessTable& processes, Report& report);

// Whether a Beamclock of this account runs (not the service).
bool RunsFor(const Account& account, const ProcessTable& processes);
