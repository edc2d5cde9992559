#include "serial/port_names.h"

#include "settings/settings_file.h"

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
    PortNames names;
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        std::string device =
            ReadIniValue("Ports", "COM" + std::to_string(number), "", settingsFile);
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
