#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Where the settings live, decided in one place for every read and write.
// - A file a caller names (the service's --settings FILE) is read and written as it is.
// - The program installed into the system's program folder (/usr/bin from the package, or the
//   bin folder of the prefix it was installed to) never writes beside itself: it keeps a
//   per-user file, $XDG_CONFIG_HOME/beamclock/Skyfix.ini, made at the first start as a copy of
//   the administrator's defaults in $XDG_CONFIG_DIRS (/etc/xdg/beamclock/Skyfix.ini).
// - A copy anywhere else keeps Skyfix.ini beside itself wherever it can be written there (the
//   file exists and may be written, or the folder lets it be created). Elsewhere every read and
//   write goes to the per-user file, as Windows does for programs of this kind; the first write
//   makes it from the file beside the program, so what an administrator put there carries over.
struct SettingsLocation {
    enum class Why {
        BesideTheProgram,  // the file beside the program can be written (or created)
        PerUserCopy,       // beside cannot be written; the per-user copy exists
        PerUserNotYet,     // beside cannot be written; reads come from beside until a write
        NoPerUserPlace,    // beside cannot be written, and there is no home to put a copy in
        Installed,         // installed program: the per-user file exists
        InstalledNotYet,   // installed program: the per-user file is made at the first start
        InstalledNoHome,   // installed program without a home: the defaults, read only
        AsGiven,           // a file the caller named: read and written as it is
    };

    std::filesystem::path beside;   // Skyfix.ini beside the program
    std::filesystem::path perUser;  // the per-user file's place; empty where there is none
    std::filesystem::path seed;     // what a new per-user file is copied from; may not exist
    std::filesystem::path read;     // what reads use now
    std::filesystem::path write;    // what writes change; empty when nothing may be written
    Why why = Why::BesideTheProgram;

    // The file this copy of the program reads and writes: what the one-copy lock is named after.
    const std::filesystem::path& Used() const { return write.empty() ? read : write; }
};

// Decides afresh for the file beside the program, from the file system and the environment
// (XDG_CONFIG_HOME, else HOME/.config, and XDG_CONFIG_DIRS; on Windows APPDATA).
SettingsLocation LocateSettings(const std::filesystem::path& besideFile);

// The system's program folders: the Debian package's /usr/bin and the bin folder of the prefix
// the build was configured to install into (none on Windows, whose installs keep the rule for
// any other folder). Tests name folders of their own.
std::vector<std::filesystem::path> InstalledProgramFolders();
void UseInstalledProgramFolders(std::vector<std::filesystem::path> folders);

// From now on, file is read and written as it is, whatever folder it is in.
void TakeSettingsFileAsGiven(const std::filesystem::path& file);

// Where a write goes: the per-user file is made first (from the file beside the program, or
// for the installed program from the administrator's defaults) when it is to be used and does
// not exist yet. Returns the file to change; empty when nothing may be written.
std::filesystem::path PrepareSettingsWrite(const std::filesystem::path& besideFile);

// The installed program's first start: makes the per-user file from the administrator's
// defaults, where there are defaults and no per-user file yet. Anything else is left alone.
void PrepareSettingsAtStart(const std::filesystem::path& besideFile);

// A settings file that is there but cannot be read, so its settings are not used: the one
// reads use, or the one a per-user file is still to be copied from (no copy is made from it).
// An empty file when there is none.
struct UnreadableSettings {
    std::filesystem::path file;
    std::string why;  // in words: "permission denied"
};
UnreadableSettings FindUnreadableSettings(const std::filesystem::path& besideFile);

// In words, for people: "beside the program (it can be written there)".
std::string Describe(SettingsLocation::Why why);
