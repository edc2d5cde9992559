#include "serial/device_probe.h"

#include <windows.h>

// As the original probe did: neither reading nor writing, shared, and closed at once. The
// name is the \\.\COMn form, so that COM10 to COM16 are serial devices too.
DeviceProbe ProbeDevice(const std::string& device) {
    SECURITY_ATTRIBUTES security{};
    std::wstring name(device.begin(), device.end());  // device names are ASCII
    HANDLE handle = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        switch (error) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return {DeviceState::Missing, {}, {}};
            case ERROR_ACCESS_DENIED:  // what another program's open of a COM port gives
                return {DeviceState::PermissionDenied, {}, {}};
            case ERROR_SHARING_VIOLATION:
                return {DeviceState::HeldByAnother, "in use by another program", {}};
            default:
                return {DeviceState::OtherError, "error " + std::to_string(error), {}};
        }
    }
    ::CloseHandle(handle);
    return {DeviceState::Free, {}, {}};
}

std::string ProbeAdvice(const DeviceProbe& probe, const std::string&) {
    return ProbeReason(probe);  // Windows says no more than that access was denied
}
