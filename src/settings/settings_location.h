#pragma once

#include <filesystem>
#include <string>

// Where the settings live. Skyfix.ini stays beside the program wherever it can be written
// there: the file exists and may be written, or the folder lets it be created. Elsewhere (an
// installed program in /usr/bin, say) every read and write goes to a per-user copy,
// $XDG_CONFIG_HOME/beamclock/Skyfix.ini, as Windows does for programs of this kind. The first
// write makes that copy from the file beside the program, so what an administrator put there
// carries over; from then on the copy is the only one read.
struct SettingsLocation {
    enum class Why {
        BesideTheProgram,  // the file beside the program can be written (or created)
        PerUserCopy,       // beside cannot be written; the per-user copy exists
        PerUserNotYet,     // beside cannot be written; reads come from beside until a write
        NoPerUserPlace,    // beside cannot be written, and there is no home to put a copy in
    };

    std::filesystem::path beside;   // Skyfix.ini beside the program
    std::filesystem::path perUser;  // the per-user copy's place; empty where there is none
    std::filesystem::path read;     // what reads use now
    std::filesystem::path write;    // what writes change
    Why why = Why::BesideTheProgram;
};

// Decides afresh for the file beside the program, from the file system and the environment
// (XDG_CONFIG_HOME, else HOME/.config; on Windows APPDATA).
SettingsLocation LocateSettings(const std::filesystem::path& besideFile);

// Where a write goes: the per-user copy is made from the file beside the program first, when
// it is to be used and does not exist yet. Returns the file to change.
std::filesystem::path PrepareSettingsWrite(const std::filesystem::path& besideFile);

// In words, for people: "beside the program (it can be written there)".
std::string Describe(SettingsLocation::Why why);
