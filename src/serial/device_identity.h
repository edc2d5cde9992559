#pragma once

#include <string>

// What the system knows of a serial device beyond its name, so that a user can tell which
// port is the emitter. Any part may be empty: a built-in port has no maker, and a device that
// is not there has nothing at all.
struct DeviceIdentity {
    std::string description;  // what it is: "FT232R USB UART"
    std::string manufacturer;
    std::string serialNumber;
    std::string byId;  // the stable name under /dev/serial/by-id that leads to it
};

// Cheap to ask: it reads what the system has at hand and opens no device.
DeviceIdentity IdentifyDevice(const std::string& device);
