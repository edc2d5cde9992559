#pragma once

#include <filesystem>

// The folders the system gives each user for a program's files, as the environment names them.
// Each is empty where there is none; the program keeps its files in a folder of its own,
// kProgramFolder, inside them. A place is taken as it is named: whether it exists, or may be
// written, is for the caller to find out.

// The folder the program's files are kept in, in every one of these places.
inline constexpr const char* kProgramFolder = "beamclock";

// Settings: $XDG_CONFIG_HOME, else ~/.config; on Windows %APPDATA% (roaming with the user).
std::filesystem::path UserConfigHome();

// What lasts between runs but is no setting (the log): $XDG_STATE_HOME, else ~/.local/state;
// on Windows %LOCALAPPDATA%.
std::filesystem::path UserStateHome();

// What may vanish at any time: $XDG_CACHE_HOME, else ~/.cache; on Windows %LOCALAPPDATA%.
std::filesystem::path UserCacheHome();

// The session's own folder, $XDG_RUNTIME_DIR; Windows has none. Not checked: one inherited
// through su may be another user's.
std::filesystem::path UserRuntimeDir();

// Root with another user's HOME or XDG variables (sudo -E, or a sudo that keeps HOME) would
// leave folders and files of root's in that user's home, which the user's own Beamclock could
// then no longer write. The nearest folder of path that exists says whose place it is. Never
// on Windows, which gives a program run as another account that account's own profile.
bool InAnotherUsersPlace(const std::filesystem::path& path);
