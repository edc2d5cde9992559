#pragma once

#include <string>

// Whether the serial device could be had just now: it exists, is a terminal device, and no
// other program holds it (an exclusive open, an flock, or a live UUCP-style lock file, which
// are the ways serial programs on Linux claim a port). Leaves nothing open.
bool DeviceIsFree(const std::string& device);
