#include "serial/device_probe.h"

#ifdef _WIN32
#include <windows.h>

bool DeviceIsFree(const std::string& device) {
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

bool LockedByLiveProcess(const std::string& device) {
    std::ifstream lock(LockFileFor(device));
    long pid = 0;
    if (!(lock >> pid) || pid <= 0) {
        return false;  // no lock file, or one we cannot make sense of
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool HeldThroughDescriptor(int fd) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return true;
    }
    ::flock(fd, LOCK_UN);
    return false;
}

}  // namespace

bool DeviceIsFree(const std::string& device) {
    if (device.empty() || LockedByLiveProcess(device)) {
        return false;
    }
    // Non-blocking, so a port waiting for carrier cannot stall the window.
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool free = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && ::isatty(fd) &&
                !HeldThroughDescriptor(fd);
    ::close(fd);
    return free;
}
#endif
