#include <windows.h>

#include <cwchar>
#include <set>
#include <vector>

#include "doctor/device_manager.h"
#include "doctor/serial_devices.h"
#include "doctor/windows_text.h"

std::vector<SerialDevice> PresentSerialDevices(const std::filesystem::path&) {
    std::map<int, DeviceManagerEntry> manager = DeviceManagerPorts();
    std::set<int> numbers;
    for (const auto& [number, entry] : manager) {
        numbers.insert(number);
    }
    // The names the system maps to devices: every COM port, also those Device Manager does
    // not list (a virtual port's driver, Wine's ports).
    std::vector<wchar_t> names(1 << 16);
    DWORD length = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (const wchar_t* name = names.data(); length > 0 && *name != L'\0';
         name += wcslen(name) + 1) {
        if (std::optional<int> number = ComNumber(Utf8(name))) {
            numbers.insert(*number);
        }
    }
    std::vector<SerialDevice> devices;
    for (int number : numbers) {
        auto entry = manager.find(number);
        devices.push_back({DefaultDeviceForPort(number),
                           {},
                           entry != manager.end() ? Describe(entry->second) : std::string{}});
    }
    return devices;
}
