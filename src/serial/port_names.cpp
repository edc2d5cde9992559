#include "serial/port_names.h"

#include "settings/ascii_case.h"
#include "settings/profile_file.h"
#include "settings/settings_location.h"

std::string DefaultDeviceForPort(int number) {
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(number);
#else
    if (number >= 1 && number <= 4) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    if (number >= 5 && number <= 12) {
        return "/dev/ttyUSB" + std::to_string(number - 5);
    }
    if (number >= 13 && number <= 16) {
        return "/dev/ttyACM" + std::to_string(number - 13);
    }
    return {};
#endif
}

PortNames PortNames::FromSettings(const std::filesystem::path& settingsFile) {
    // One pass over the section rather than sixteen reads of what may be a large file.
    std::map<int, std::string> found;
    for (const auto& [key, device] :
         ReadProfileSection(LocateSettings(settingsFile).read, "Ports")) {
        for (int number = kFirstPort; number <= kLastPort; ++number) {
            if (SameIgnoringCase(key, "COM" + std::to_string(number))) {
                found.emplace(number, device);  // the first matching key wins
            }
        }
    }
    PortNames names;
    for (auto& [number, device] : found) {
        if (!device.empty()) {
            names.Override(number, device);
        }
    }
    return names;
}

void PortNames::Override(int number, std::string device) {
    overrides_[number] = std::move(device);
}

std::string PortNames::DeviceFor(int number) const {
    auto found = overrides_.find(number);
    return found != overrides_.end() ? found->second : DefaultDeviceForPort(number);
}
