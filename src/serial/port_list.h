#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/port_names.h"

// True when the device of port n could be opened just now; leaves it closed.
bool IsComPortAvailable(std::int16_t number, const PortNames& names);

using AvailabilityProbe = std::function<bool(std::int16_t)>;

// "None", then "+COMn" or " COMn" for n = 1..16: "+" if the probe could open the port. The
// probes run one after another in port order.
std::vector<std::string> PortListEntries(const AvailabilityProbe& isAvailable);
