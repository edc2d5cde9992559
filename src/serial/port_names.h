#pragma once

#include <filesystem>
#include <map>
#include <string>

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

// The platform's device for port n. Windows: \\.\COMn, which also reaches COM10 and up.
// Linux: COM1-COM4 are /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7, COM13-COM16 /dev/ttyACM0-3.
std::string DefaultDeviceForPort(int number);

// Which device each port number names: the platform's default unless the settings file's
// section [Ports] names another with a key COMn.
class PortNames {
  public:
    static PortNames FromSettings(const std::filesystem::path& settingsFile);

    void Override(int number, std::string device);
    std::string DeviceFor(int number) const;

  private:
    std::map<int, std::string> overrides_;
};
