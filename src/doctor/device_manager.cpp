#include "doctor/device_manager.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The four hex digits after a key such as "VID_", or empty.
std::string HexAfter(const std::string& id, const std::string& key) {
    std::size_t at = id.find(key);
    if (at == std::string::npos || id.size() < at + key.size() + 4) {
        return {};
    }
    std::string digits = id.substr(at + key.size(), 4);
    bool hex = std::all_of(digits.begin(), digits.end(),
                           [](unsigned char c) { return std::isxdigit(c) != 0; });
    return hex ? digits : std::string{};
}

}  // namespace

std::string UsbVidPid(const std::string& hardwareId) {
    std::string id = Upper(hardwareId);
    // FTDI's own driver names its bus FTDIBUS ("FTDIBUS\COMPORT&VID_0403&PID_6001").
    if (id.rfind("USB\\", 0) != 0 && id.rfind("FTDIBUS\\", 0) != 0) {
        return {};
    }
    std::string vid = HexAfter(id, "VID_");
    std::string pid = HexAfter(id, "PID_");
    return vid.empty() || pid.empty() ? std::string{} : vid + ":" + pid;
}

std::optional<int> ComNumber(const std::string& portName) {
    std::string name = Upper(portName);
    if (name.size() < 4 || name.size() > 6 || name.rfind("COM", 0) != 0 || name[3] == '0' ||
        !std::all_of(name.begin() + 3, name.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return std::stoi(name.substr(3));
}

std::string Describe(const DeviceManagerEntry& entry) {
    std::string text = entry.friendlyName.empty() ? "a port without a name" : entry.friendlyName;
    if (!entry.maker.empty()) {
        text += ", made by " + entry.maker;
    }
    if (std::string usb = UsbVidPid(entry.hardwareId); !usb.empty()) {
        text += ", USB VID:PID " + usb;
    }
    return text;
}
