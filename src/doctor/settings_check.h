#pragma once

#include <filesystem>
#include <optional>

#include "doctor/report.h"
#include "serial/port_names.h"

// What Beamclock will make of its settings, read through the program's own rules.
struct SettingsVerdict {
    std::filesystem::path besideFile;
    std::optional<int> port;  // the port the start opens; none for "None" or a text naming none
    PortNames names;          // the device each port names, [Ports] applied

    std::string ChosenDevice() const { return port ? names.DeviceFor(*port) : ""; }
};

// The file the settings location rule decides on for the program in programDirectory.
SettingsVerdict CheckSettings(const std::filesystem::path& programDirectory, Report& report);

// One given file, read as it is (the service's, which no location rule redirects).
SettingsVerdict CheckSettingsFile(const std::filesystem::path& file, Report& report);
