#pragma once

#include <optional>
#include <string>

#include "doctor/report.h"

// What Windows says about its time service (w32time), gathered by TimeServiceFacts(), so
// that the rule below can be tried on any answer Windows may give.
struct TimeService {
    bool installed = false;
    std::string state;      // "running", "stopped", "starting" ...; empty when unknown
    std::string startType;  // "automatic", "manual", "disabled"
    std::string type;       // Parameters\Type: "NTP", "NT5DS" (the domain), "NoSync", "AllSync"
    std::string server;     // Parameters\NtpServer
    std::optional<std::string> status;  // what "w32tm /query /status" printed, when it ran
};

TimeService TimeServiceFacts();  // Windows only

// From "w32tm /query /status": "Last Successful Sync Time" and "Source", when it says them.
struct TimeServiceStatus {
    std::string lastSync;
    std::string source;
};
TimeServiceStatus ParseW32tmStatus(const std::string& output);

// Whether Windows keeps the PC clock right, as one finding of the clock section.
void CheckTimeService(const TimeService& service, Report& report);
