#pragma once

#include <filesystem>
#include <string>

#include "doctor/report.h"

// What the doctor does on this system: its usage, the program it looks at by default, and the
// checks of each mode in the order they run. One file a platform.

enum class Mode {
    Desktop,  // a user's Beamclock
    Service,  // --service: beamclockd.service as it sees the box
};

extern const char* const kUsage;

// The folder of this program: --dir's default.
std::filesystem::path OwnDirectory();

// Makes the console show the report's UTF-8 as it is, where that needs doing.
void UseUtf8Console();

// Runs the mode's checks into the report; false when this system has no such mode.
bool Examine(Mode mode, const std::filesystem::path& programDirectory, Report& report);

// --listen acts for the same user as the report: under sudo, for the rest of the run, with the
// ids and groups of the user who ran it, so that it opens and sets raw only a device they
// could open, and COMn is what their settings make of it. False, with why, when those ids
// could not be taken on: then nothing is opened at all.
bool ListenAsTheUser(std::string& why);
