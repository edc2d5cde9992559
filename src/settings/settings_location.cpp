#include "settings/settings_location.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/profile_file.h"
#include "system/durable_file.h"
#include "system/user_places.h"

namespace fs = std::filesystem;

namespace {

bool CanWriteBeside(const fs::path& file) {
    std::error_code error;
    if (fs::exists(file, error)) {
        return MayWriteFile(file);
    }
    fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    return fs::is_directory(folder, error) && FolderTakesNewFiles(folder);
}

// The administrator's defaults: the first of XDG_CONFIG_DIRS (most important first, /etc/xdg
// when unset) that holds the file; the first folder's place when none does.
fs::path SystemDefaults(const fs::path& name) {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = (dirs != nullptr && *dirs != '\0') ? dirs : "/etc/xdg";
    std::optional<fs::path> first;
    while (!list.empty()) {
        std::string_view entry = list.substr(0, list.find(':'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        if (!fs::path(entry).is_absolute()) {
            continue;  // relative entries are to be ignored
        }
        fs::path candidate = fs::path(entry) / kProgramFolder / name;
        std::error_code error;
        // One in a folder this user may not search may be the defaults that win: no later
        // file may stand in for it.
        if (fs::exists(candidate, error) || error) {
            return candidate;
        }
        first = first.value_or(candidate);
    }
    return first.value_or(fs::path("/etc/xdg") / kProgramFolder / name);
}

bool SameFolder(const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    std::error_code error;
    bool same = fs::equivalent(a, b, error);  // /bin and /usr/bin on a merged system
    return error ? a.lexically_normal() == b.lexically_normal() : same;
}

bool Exists(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

fs::path& GivenFile() {
    static fs::path given;
    return given;
}

// A copy of source at target, byte for byte, so an administrator's [Ports] and default port
// carry over. A missing source gives an empty file. One that exists but cannot be read gives
// none: an empty copy would hide it for good, even after its mode is mended.
bool MakeCopy(const fs::path& source, const fs::path& target) {
    std::optional<std::string> content = LoadProfileFile(source);
    if (!content) {
        return false;
    }
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    return ReplaceFileDurably(FollowLinks(target), *content);
}

std::vector<fs::path>& InstalledFolders() {
    static std::vector<fs::path> folders = [] {
        std::vector<fs::path> list;
#ifdef BEAMCLOCK_INSTALLED_FOLDERS
        std::string_view text = BEAMCLOCK_INSTALLED_FOLDERS;
        while (!text.empty()) {
            std::string_view entry = text.substr(0, text.find(':'));
            list.emplace_back(entry);
            text.remove_prefix(std::min(text.size(), entry.size() + 1));
        }
#endif
        return list;
    }();
    return folders;
}

bool IsInstalledFolder(const fs::path& folder) {
    for (const fs::path& installed : InstalledFolders()) {
        if (SameFolder(folder, installed)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<fs::path> InstalledProgramFolders() {
    return InstalledFolders();
}

void UseInstalledProgramFolders(std::vector<fs::path> folders) {
    InstalledFolders() = std::move(folders);
}

void TakeSettingsFileAsGiven(const fs::path& file) {
    GivenFile() = file;
}

SettingsLocation LocateSettings(const fs::path& besideFile) {
    using Why = SettingsLocation::Why;
    SettingsLocation where;
    where.beside = besideFile;
    where.read = where.write = besideFile;
    if (!GivenFile().empty() && besideFile == GivenFile()) {
        where.why = Why::AsGiven;
        return where;
    }
    // Root with another user's HOME (sudo -E) has no per-user file: writing one would leave the
    // user a file of root's that their own Beamclock could no longer change.
    if (fs::path home = UserConfigHome();
        !home.empty() && !InAnotherUsersPlace(home / kProgramFolder / besideFile.filename())) {
        where.perUser = home / kProgramFolder / besideFile.filename();
    }
    bool copyExists = !where.perUser.empty() && Exists(where.perUser);
    if (IsInstalledFolder(besideFile.parent_path())) {
        where.seed = SystemDefaults(besideFile.filename());
        where.why = where.perUser.empty() ? Why::InstalledNoHome
                    : copyExists          ? Why::Installed
                                          : Why::InstalledNotYet;
        where.read = copyExists || !Exists(where.seed) ? where.perUser : where.seed;
        where.write = where.perUser;
        if (where.perUser.empty()) {
            where.read = where.seed;
        }
        return where;
    }
    where.seed = besideFile;
    if (CanWriteBeside(besideFile)) {
        where.why = Why::BesideTheProgram;
    } else if (where.perUser.empty()) {
        where.why = Why::NoPerUserPlace;
    } else {
        where.why = copyExists ? Why::PerUserCopy : Why::PerUserNotYet;
        where.read = copyExists ? where.perUser : besideFile;
        where.write = where.perUser;
    }
    return where;
}

fs::path PrepareSettingsWrite(const fs::path& besideFile) {
    SettingsLocation where = LocateSettings(besideFile);
    using Why = SettingsLocation::Why;
    bool copyNeeded = where.why == Why::PerUserNotYet || where.why == Why::InstalledNotYet;
    if (copyNeeded && !MakeCopy(where.seed, where.perUser)) {
        return {};
    }
    return where.write;
}

void PrepareSettingsAtStart(const fs::path& besideFile) {
    SettingsLocation where = LocateSettings(besideFile);
    if (where.why == SettingsLocation::Why::InstalledNotYet && Exists(where.seed)) {
        MakeCopy(where.seed, where.perUser);
    }
}

UnreadableSettings FindUnreadableSettings(const fs::path& besideFile) {
    SettingsLocation where = LocateSettings(besideFile);
    bool copyToCome = where.why == SettingsLocation::Why::PerUserNotYet ||
                      where.why == SettingsLocation::Why::InstalledNotYet;
    for (const fs::path& file : {where.read, copyToCome ? where.seed : fs::path()}) {
        if (std::string why = file.empty() ? "" : WhyProfileUnreadable(file); !why.empty()) {
            return {file, why};
        }
    }
    return {};
}

std::string Describe(SettingsLocation::Why why) {
    switch (why) {
        case SettingsLocation::Why::BesideTheProgram:
            return "beside the program (it can be written there)";
        case SettingsLocation::Why::PerUserCopy:
            return "the per-user copy (Skyfix.ini beside the program cannot be written)";
        case SettingsLocation::Why::PerUserNotYet:
            return "beside the program, read only; the first change makes the per-user copy";
        case SettingsLocation::Why::NoPerUserPlace:
            return "beside the program, read only; there is no home folder for a per-user copy";
        case SettingsLocation::Why::Installed:
            return "the per-user file (an installed program never writes beside itself)";
        case SettingsLocation::Why::InstalledNotYet:
            return "the per-user file is not there yet; the first start makes it from the "
                   "system-wide defaults where there are any (an installed program never writes "
                   "beside itself)";
        case SettingsLocation::Why::InstalledNoHome:
            return "the system-wide defaults, read only; there is no home folder for a per-user "
                   "file";
        case SettingsLocation::Why::AsGiven:
            return "the service's settings file, read as it is";
    }
    return {};
}
