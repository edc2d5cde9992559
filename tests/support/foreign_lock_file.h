#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

// The file a UUCP-style program of another user leaves for the device in the lock folder
// every local user may write: /run/lock/LCK..pts_3 for /dev/pts/3. Removed at the end.
struct ForeignLockFile {
    std::filesystem::path path;
    explicit ForeignLockFile(std::string device) {
        std::replace(device.begin(), device.end(), '/', '_');
        path = "/run/lock/LCK.." + device.substr(std::string("_dev_").size());
    }
    ~ForeignLockFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

inline pid_t EndedProcess() {
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}
