#include "doctor/serial_devices.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

// Not std::filesystem::equivalent, which refuses to compare devices. Windows' \\.\COMn names
// name no file to follow: they are compared as written.
bool SameFile(const std::string& a, const std::string& b) {
    if (a.starts_with("\\\\.\\") || b.starts_with("\\\\.\\")) {
        return a == b;
    }
    std::error_code errorA;
    std::error_code errorB;
    fs::path canonicalA = fs::canonical(a, errorA);
    fs::path canonicalB = fs::canonical(b, errorB);
    return !errorA && !errorB && canonicalA == canonicalB;  // a path to nowhere names nothing
}

namespace {

constexpr const char* kSection = "serial devices";

bool Names(const SerialDevice& device, const std::string& path) {
    if (path == device.device ||
        std::find(device.byId.begin(), device.byId.end(), path) != device.byId.end()) {
        return true;
    }
    return SameFile(path, device.device);
}

std::string Join(const std::vector<std::string>& parts, const char* between) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : between) + part;
    }
    return text;
}

}  // namespace

std::string ComNumbersOf(const SerialDevice& device, const PortNames& names) {
    std::vector<std::string> ports;
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        std::string named = names.DeviceFor(number);
        if (Names(device, named)) {
            ports.push_back(
                "COM" + std::to_string(number) +
                (named == DefaultDeviceForPort(number) ? " by default" : " in [Ports]"));
        }
    }
    return Join(ports, ", ");
}

std::string MissingDeviceAdvice(const std::vector<SerialDevice>& present, const PortNames& names) {
    std::string text = ": plug the emitter in";
    if (present.empty()) {
        return text + "; no serial device is present now";
    }
    std::vector<std::string> seen;
    for (const SerialDevice& device : present) {
        std::vector<std::string> known;
        for (const std::string& link : device.byId) {
            known.push_back(fs::path(link).filename().string());
        }
        if (!device.about.empty()) {
            known.push_back(device.about);
        }
        std::string ports = ComNumbersOf(device, names);
        known.push_back(ports.empty() ? "no COM number" : ports);
        seen.push_back(device.device + " (" + Join(known, ", ") + ")");
    }
    return text + ", or choose the port it is now; present now: " + Join(seen, "; ");
}

void CheckSerialDevices(const std::vector<SerialDevice>& present, const SettingsVerdict& settings,
                        Report& report) {
    if (present.empty()) {
        report.Add(kSection, "none", Level::Info, "no serial device is present now");
    }
    std::string chosen = settings.ChosenDevice();
    for (const SerialDevice& device : present) {
        std::vector<std::string> parts = device.byId;
        if (!device.about.empty()) {
            parts.push_back(device.about);
        }
        std::string ports = ComNumbersOf(device, settings.names);
        // A key in [Ports] gives it a number; the by-id name stays the same whichever socket
        // the emitter is plugged into.
        parts.push_back(!ports.empty()
                            ? ports
                            : "no COM number names it; a line COMn=" +
                                  (device.byId.empty() ? device.device : device.byId.front()) +
                                  " in [Ports] gives it one");
        bool isChosen = !chosen.empty() && Names(device, chosen);
        report.Add(kSection, device.device + (isChosen ? " (chosen)" : ""), Level::Info,
                   Join(parts, "; "));
    }
}
