#include <windows.h>
// After windows.h, which they need.
#include <devguid.h>
#include <setupapi.h>

#include "doctor/device_manager.h"
#include "doctor/windows_text.h"

namespace {

// A text property of the device; the first string of a list (hardware ids are a list).
std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 4,
                                           nullptr)) {
        return {};
    }
    return Utf8(buffer);
}

// The device's COM name, from its own registry key ("PortName"), as Device Manager shows it.
std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof name[0];
    DWORD type = 0;
    LONG result =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? Utf8(name) : std::string{};
}

}  // namespace

std::map<int, DeviceManagerEntry> DeviceManagerPorts() {
    std::map<int, DeviceManagerEntry> ports;
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        std::optional<int> number = ComNumber(PortName(devices, device));
        if (number) {
            ports[*number] = {Property(devices, device, SPDRP_FRIENDLYNAME),
                              Property(devices, device, SPDRP_MFG),
                              Property(devices, device, SPDRP_HARDWAREID)};
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}
