#include "settings/settings_location.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "settings/profile_file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

bool MayWrite(const fs::path& path) {
#ifdef _WIN32
    return ::_waccess(path.c_str(), 2) == 0;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

bool CanWriteBeside(const fs::path& file) {
    std::error_code error;
    if (fs::exists(file, error)) {
        return MayWrite(file);
    }
    fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    return fs::is_directory(folder, error) && MayWrite(folder);
}

std::optional<fs::path> ConfigHome() {
#ifdef _WIN32
    const char* appData = std::getenv("APPDATA");
    if (appData != nullptr && *appData != '\0') {
        return fs::path(appData);
    }
#else
    // The XDG base directory rules: a relative XDG_CONFIG_HOME is to be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        return fs::path(xdg);
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && fs::path(home).is_absolute()) {
        return fs::path(home) / ".config";
    }
#endif
    return std::nullopt;
}

}  // namespace

SettingsLocation LocateSettings(const fs::path& besideFile) {
    SettingsLocation where;
    where.beside = besideFile;
    where.read = where.write = besideFile;
    if (auto home = ConfigHome()) {
        where.perUser = *home / "beamclock" / besideFile.filename();
    }
    if (CanWriteBeside(besideFile)) {
        where.why = SettingsLocation::Why::BesideTheProgram;
    } else if (where.perUser.empty()) {
        where.why = SettingsLocation::Why::NoPerUserPlace;
    } else {
        std::error_code error;
        bool copyExists = fs::exists(fs::symlink_status(where.perUser, error));
        where.why =
            copyExists ? SettingsLocation::Why::PerUserCopy : SettingsLocation::Why::PerUserNotYet;
        where.read = copyExists ? where.perUser : besideFile;
        where.write = where.perUser;
    }
    return where;
}

fs::path PrepareSettingsWrite(const fs::path& besideFile) {
    SettingsLocation where = LocateSettings(besideFile);
    if (where.why == SettingsLocation::Why::PerUserNotYet) {
        std::error_code error;
        fs::create_directories(where.perUser.parent_path(), error);
        // Byte for byte, so an administrator's [Ports] and default port carry over. A file
        // beside the program that cannot be read gives an empty copy, as if it were missing.
        std::ifstream beside(besideFile, std::ios::binary);
        std::ostringstream content;
        if (beside && fs::file_size(besideFile, error) <= kMaxProfileFileBytes && !error) {
            content << beside.rdbuf();
        }
        ReplaceProfileFile(where.perUser, content.str());
    }
    return where.write;
}

std::string Describe(SettingsLocation::Why why) {
    switch (why) {
        case SettingsLocation::Why::BesideTheProgram:
            return "beside the program (it can be written there)";
        case SettingsLocation::Why::PerUserCopy:
            return "the per-user copy (the program's folder cannot be written)";
        case SettingsLocation::Why::PerUserNotYet:
            return "beside the program, read only; the first change makes the per-user copy";
        case SettingsLocation::Why::NoPerUserPlace:
            return "beside the program, read only; there is no home folder for a per-user copy";
    }
    return {};
}
