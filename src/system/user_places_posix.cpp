#include "system/user_places.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// The XDG base directory rules: a relative variable is to be ignored, and so is a relative
// HOME; the variable else the fallback inside HOME.
fs::path XdgPlace(const char* variable, const fs::path& inHome) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        return fs::path(xdg);
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && fs::path(home).is_absolute()) {
        return fs::path(home) / inHome;
    }
    return {};
}

}  // namespace

fs::path UserConfigHome() {
    return XdgPlace("XDG_CONFIG_HOME", ".config");
}

fs::path UserStateHome() {
    return XdgPlace("XDG_STATE_HOME", fs::path(".local") / "state");
}

fs::path UserCacheHome() {
    return XdgPlace("XDG_CACHE_HOME", ".cache");
}

fs::path UserRuntimeDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && fs::path(runtime).is_absolute() ? fs::path(runtime) : fs::path();
}

bool InAnotherUsersPlace(const fs::path& path) {
    if (::geteuid() != 0) {
        return false;
    }
    for (fs::path folder = path.parent_path(); !folder.empty(); folder = folder.parent_path()) {
        struct stat status {};
        if (::stat(folder.c_str(), &status) == 0) {
            return status.st_uid != 0;
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    return false;
}
