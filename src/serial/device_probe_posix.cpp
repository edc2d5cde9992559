#include "serial/device_probe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>

namespace {

// The lock file that Qt, minicom and other UUCP-style programs create for a device:
// /var/lock/LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3.
std::string LockFileFor(const std::string& device) {
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return "/var/lock/LCK.." + name;
}

// The live process a lock file names, or 0.
long LockingProcess(const std::string& device) {
    std::ifstream lock(LockFileFor(device));
    long pid = 0;
    if (!(lock >> pid) || pid <= 0) {
        return 0;  // no lock file, or one we cannot make sense of
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

// "exclusive open", "flock", or empty when nothing holds the open device.
const char* HeldThroughDescriptor(int fd) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return "exclusive open";
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return "flock";
    }
    ::flock(fd, LOCK_UN);
    return "";
}

DeviceState StateAfterFailedOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return DeviceState::Missing;
        case EACCES:
        case EPERM:
            return DeviceState::PermissionDenied;
        case EBUSY:
            return DeviceState::HeldByAnother;
        case EISDIR:
            return DeviceState::NotATerminal;
        default:
            return DeviceState::OtherError;
    }
}

}  // namespace

DeviceProbe ProbeDevice(const std::string& device) {
    if (device.empty()) {
        return {DeviceState::Missing, {}, 0};
    }
    if (long pid = LockingProcess(device)) {
        return {DeviceState::HeldByAnother, "lock file " + LockFileFor(device),
                static_cast<int>(pid)};
    }
    // Non-blocking, so a port waiting for carrier cannot stall the window.
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        DeviceState state = StateAfterFailedOpen(error);
        return {state,
                state == DeviceState::HeldByAnother ? "exclusive open" : std::strerror(error), 0};
    }
    DeviceProbe probe{DeviceState::Free, {}, 0};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || !::isatty(fd)) {
        probe.state = DeviceState::NotATerminal;
    } else if (const char* how = HeldThroughDescriptor(fd); *how != '\0') {
        probe = {DeviceState::HeldByAnother, how, 0};
    }
    ::close(fd);
    return probe;
}
