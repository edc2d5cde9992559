#pragma once

#include <map>
#include <optional>
#include <string>

// What Device Manager says about a COM port: the names a user recognises the emitter by,
// since Windows hands out COM numbers as it likes.
struct DeviceManagerEntry {
    std::string friendlyName;  // "USB Serial Port (COM5)"
    std::string maker;         // "FTDI"
    std::string hardwareId;    // "USB\VID_0403&PID_6001&REV_0600"
};

// The ports of Device Manager's Ports class that are present, by COM number. Empty where the
// system has no such list (Linux; Wine keeps none).
std::map<int, DeviceManagerEntry> DeviceManagerPorts();

// "0403:6001" from a USB hardware id, empty for any other bus.
std::string UsbVidPid(const std::string& hardwareId);

// The COM number a port's name gives: "COM5" is 5; anything else none.
std::optional<int> ComNumber(const std::string& portName);

// "USB Serial Port (COM5), made by FTDI, USB VID:PID 0403:6001".
std::string Describe(const DeviceManagerEntry& entry);
