#include "serial/device_probe.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "serial/device_access.h"
#include "serial/device_claim.h"

namespace {

struct LockFile {
    std::string path;
    uid_t owner = 0;
    long pid = 0;  // 0 where the file names none we can make sense of
};

// The names Qt, minicom and other UUCP-style programs give a device's lock file: LCK..ttyUSB0
// for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3; for a link such as /dev/serial/by-id/..., the
// name of the device it leads to, and the link's own.
std::vector<std::string> LockFileNames(const std::string& device) {
    std::error_code error;
    std::string target = std::filesystem::canonical(device, error).string();
    std::vector<std::string> names;
    for (std::string path : {error ? device : target, device}) {
        if (path.rfind("/dev/", 0) == 0) {
            path.erase(0, 5);
        }
        std::replace(path.begin(), path.end(), '/', '_');
        if (std::find(names.begin(), names.end(), "LCK.." + path) == names.end()) {
            names.push_back("LCK.." + path);
        }
    }
    return names;
}

// Every local user may put anything in the lock folder, so a name there is read only as a
// small regular file of its own: never through a link, and never waiting on a fifo.
std::optional<LockFile> ReadLockFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    char text[32] = {};
    bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ssize_t got = regular ? ::read(fd, text, sizeof text - 1) : -1;
    ::close(fd);
    if (!regular) {
        return std::nullopt;
    }
    // "      1234\n" as UUCP writes it, or "1234\nprogram\nhost\n" as Qt does.
    long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
    return LockFile{path, info.st_uid, pid > 0 && pid <= INT_MAX ? pid : 0};
}

std::optional<LockFile> FindLockFile(const std::string& device) {
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        for (const std::string& name : LockFileNames(device)) {
            if (std::optional<LockFile> lock = ReadLockFile(std::string(folder) + "/" + name)) {
                return lock;
            }
        }
    }
    return std::nullopt;
}

std::string UserName(uid_t uid) {
    passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

// "systemd (pid 1)", or nothing for a process that does not exist. Another user's process
// answers kill(pid, 0) with EPERM: it lives.
std::optional<std::string> LiveProcess(long pid) {
    if (pid == 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        return std::nullopt;
    }
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    std::string number = "pid " + std::to_string(pid);
    return name.empty() ? number : name + " (" + number + ")";
}

std::string LockFileNote(const std::string& device) {
    std::optional<LockFile> lock = FindLockFile(device);
    if (!lock) {
        return {};
    }
    std::string whose = "a lock file of user " + UserName(lock->owner);
    if (std::optional<std::string> process = LiveProcess(lock->pid)) {
        return whose + ", " + lock->path + ", names " + *process + ", which runs";
    }
    return whose + (lock->pid == 0 ? " names no process" : " names a process that does not exist") +
           "; `sudo rm " + lock->path + "` removes it";
}

}  // namespace

// "mode 0660, group dialout": what a user refused needs to know to ask for the right fix.
std::string Permissions(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return {};
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    group* owners = ::getgrgid(info.st_gid);
    return std::string("mode ") + mode + ", group " +
           (owners != nullptr ? owners->gr_name : std::to_string(info.st_gid));
}

DeviceProbe ProbeDevice(const std::string& device) {
    DeviceClaim claim = ClaimDevice(device);
    if (claim.fd >= 0) {
        ::close(claim.fd);
    }
    std::string how =
        claim.state == DeviceState::PermissionDenied ? Permissions(device) : claim.how;
    return {claim.state, how, device.empty() ? std::string() : LockFileNote(device)};
}

std::string ProbeAdvice(const DeviceProbe& probe, const std::string& device) {
    if (probe.state == DeviceState::PermissionDenied) {
        if (std::optional<DeviceFacts> facts = DeviceFactsOf(device)) {
            return PermissionAdvice(*facts, ThisUser());
        }
    }
    return ProbeReason(probe);
}
