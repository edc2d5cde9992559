#pragma once

#include <filesystem>
#include <optional>

#include "doctor/processes.h"
#include "doctor/report.h"

// COM1 to COM16: the device each names and why it can or cannot be had, found by the same
// probe the program's port list uses. The chosen port's state decides whether it is a problem.
void CheckPorts(const std::filesystem::path& besideFile, std::optional<int> chosen,
                const ProcessTable& processes, Report& report);

// Whether a running Beamclock of this machine holds the chosen port, and who runs it.
void CheckRunning(const std::filesystem::path& besideFile, std::optional<int> chosen,
                  const ProcessTable& processes, Report& report);
