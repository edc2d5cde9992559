#include "serial/device_identity.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path& file) {
    std::string line;
    std::ifstream in(file);
    std::getline(in, line);
    return line;
}

// The USB device a tty hangs off is the nearest folder above it that has a vendor id: for
// ttyUSB the interface and the converter lie between, for ttyACM the interface.
fs::path UsbDeviceOf(const fs::path& ttyDevice) {
    std::error_code error;
    for (fs::path folder = fs::canonical(ttyDevice, error); !error && folder.has_relative_path();
         folder = folder.parent_path()) {
        if (fs::exists(folder / "idVendor", error)) {
            return folder;
        }
    }
    return {};
}

}  // namespace

DeviceIdentity IdentifyDevice(const std::string& device) {
    DeviceIdentity identity;
    std::error_code error;
    fs::path target = fs::canonical(device, error);
    if (error) {
        return identity;
    }
    for (const fs::directory_entry& link : fs::directory_iterator("/dev/serial/by-id", error)) {
        std::error_code unresolved;
        if (fs::canonical(link.path(), unresolved) == target && !unresolved) {
            identity.byId = link.path().string();
            break;
        }
    }
    // sysfs knows the devices of /dev by their names there, and only those.
    fs::path usb = target.parent_path() == "/dev"
                       ? UsbDeviceOf(fs::path("/sys/class/tty") / target.filename() / "device")
                       : fs::path();
    if (!usb.empty()) {
        identity.description = FirstLine(usb / "product");
        identity.manufacturer = FirstLine(usb / "manufacturer");
        identity.serialNumber = FirstLine(usb / "serial");
    }
    return identity;
}
