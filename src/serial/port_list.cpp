#include "serial/port_list.h"

#include "serial/device_probe.h"

bool IsComPortAvailable(std::int16_t number, const PortNames& names) {
    return DeviceIsFree(names.DeviceFor(number));
}

std::vector<std::string> PortListEntries(const AvailabilityProbe& isAvailable) {
    std::vector<std::string> entries{"None"};
    for (std::int16_t number = kFirstPort; number <= kLastPort; ++number) {
        entries.push_back((isAvailable(number) ? "+COM" : " COM") + std::to_string(number));
    }
    return entries;
}
