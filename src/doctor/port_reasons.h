#pragma once

#include <string>

#include "serial/device_probe.h"

struct Account;
class ProcessTable;

// Why a port cannot be had, in the terms of the system that refused it: Linux says who holds a
// device and what its modes allow; Windows refuses a port another program has open as it
// refuses a user who may not, and says no more. One file a platform.

// For a device that is missing, may not be opened, or is held by another program.
std::string Refusal(const DeviceProbe& probe, const std::string& device, const Account& account,
                    const ProcessTable& processes);

// Whether the state may mean that another program has the device open.
bool MayBeInUse(DeviceState state);
