#pragma once

#include "doctor/processes.h"
#include "doctor/report.h"
#include "doctor/settings_check.h"

struct Account;

// COM1 to COM16: the device each names and why it can or cannot be had, found by the same
// probe the program's port list uses, for the account. The chosen port's state decides
// whether it is a problem.
void CheckPorts(const SettingsVerdict& settings, const Account& account,
                const ProcessTable& processes, Report& report);

// Which Beamclock runs: for this account, for others, as the service; and whether this
// account's holds the chosen port.
void CheckRunning(const SettingsVerdict& settings, const Account& account,
                  const ProcessTable& processes, Report& report);

// Whether a Beamclock of this account runs (not the service).
bool RunsFor(const Account& account, const ProcessTable& processes);
