#pragma once

#include <functional>
#include <memory>

#include "serial/port_names.h"
#include "serial/serial_port.h"

// The serial adapter of this platform, asking names for the device at every open.
std::unique_ptr<SerialPort> MakeSystemSerialPort(std::function<PortNames()> names);
