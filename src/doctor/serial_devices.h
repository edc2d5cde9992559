#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "doctor/report.h"
#include "doctor/settings_check.h"

// A serial device that is there now, and the names a user may know it by: Linux hands out
// ttyUSB numbers in the order devices were plugged in, Windows COM numbers as it likes, so the
// maker's names are what tell the emitter from a modem.
struct SerialDevice {
    std::string device;             // "/dev/ttyUSB0", "\\.\COM5"
    std::vector<std::string> byId;  // the /dev/serial/by-id links that lead to it
    std::string about;              // what Device Manager says of it; empty where it says nothing
};

// The serial devices present now under root ("/" but in tests; Windows asks the system and
// passes it by): on Linux ttyS with a UART behind it, ttyUSB, ttyACM, ttyAMA, and whatever
// /dev/serial/by-id leads to; on Windows the COM ports the system knows.
std::vector<SerialDevice> PresentSerialDevices(const std::filesystem::path& root);

// Which ports the program's own port names give to the device: "COM5 by default",
// "COM7 in [Ports]"; empty when none does.
std::string ComNumbersOf(const SerialDevice& device, const PortNames& names);

// For a chosen port whose device is missing: plug it in, and what is there instead.
std::string MissingDeviceAdvice(const std::vector<SerialDevice>& present, const PortNames& names);

// Whether both paths lead to one file, a device included; false when either leads nowhere.
bool SameFile(const std::string& a, const std::string& b);

// The "serial devices" section: each device, the names it goes by and the port it is.
void CheckSerialDevices(const std::vector<SerialDevice>& present, const SettingsVerdict& settings,
                        Report& report);
