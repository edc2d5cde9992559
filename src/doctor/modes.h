#pragma once

#include <filesystem>
#include <string>

#include "doctor/processes.h"
#include "doctor/report.h"

// What the doctor does on this system: its usage, the program it looks at by default, and the
// checks of each mode in the order they run. One file a platform.

enum class Mode {
    Desktop,  // a user's Beamclock
    Service,  // --service: beamclockd.service as it sees the box
};

// Which clock of a Linux box: beamclockd.service, or the instance NAME of beamclockd@.service.
struct ServiceInstance {
    std::string name;  // empty: the plain service

    // A name systemd takes as an instance and that stays one folder under /etc/beamclock.
    static bool Valid(const std::string& name) {
        bool allowed = !name.empty() && name.size() <= 64 && name[0] != '.' && name[0] != '-';
        for (char c : name) {
            allowed = allowed && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.');
        }
        return allowed;
    }
    // "beamclockd.service", "beamclockd@hall.service"
    std::string Unit() const {
        return name.empty() ? kServiceUnit : "beamclockd@" + name + ".service";
    }
    // Under the root: "etc/beamclock/Skyfix.ini", "etc/beamclock/hall/Skyfix.ini"
    std::filesystem::path SettingsFile() const {
        return std::filesystem::path("etc/beamclock") / name / "Skyfix.ini";
    }
};

extern const char* const kUsage;

// The folder of this program: --dir's default.
std::filesystem::path OwnDirectory();

// Makes the console show the report's UTF-8 as it is, where that needs doing.
void UseUtf8Console();

// Runs the mode's checks into the report; false when this system has no such mode. instance:
// the service's, where it is one of beamclockd@.service's.
bool Examine(Mode mode, const std::filesystem::path& programDirectory, const std::string& instance,
             Report& report);

// --listen acts for the same user as the report: under sudo, for the rest of the run, with the
// ids and groups of the user who ran it, so that it opens and sets raw only a device they
// could open, and COMn is what their settings make of it. False, with why, when those ids
// could not be taken on: then nothing is opened at all.
bool ListenAsTheUser(std::string& why);
