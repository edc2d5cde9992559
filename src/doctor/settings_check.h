#pragma once

#include <filesystem>
#include <optional>

#include "doctor/report.h"

// What Beamclock will make of its settings, read through the program's own rules.
struct SettingsVerdict {
    std::filesystem::path besideFile;
    std::optional<int> port;  // the port the start opens; none for "None" or a text naming none
};

SettingsVerdict CheckSettings(const std::filesystem::path& programDirectory, Report& report);
