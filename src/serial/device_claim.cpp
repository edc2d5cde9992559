#include "serial/device_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

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

// Unix98 pseudo-terminal slaves. Their terminal lives as long as the master side, so an
// exclusive flag set on one outlives the program that set it.
bool IsPseudoTerminal(const struct stat& info) {
    unsigned int number = major(info.st_rdev);
    return number >= 136 && number <= 143;
}

DeviceClaim Refused(int fd, DeviceState state, std::string how) {
    ::close(fd);
    return {-1, state, std::move(how), false};
}

}  // namespace

// No lock file in /run/lock is asked: every local user may write there. What keeps other
// programs out is an exclusive open (which root would pass unseen, so it is asked) and the
// flock, which the kernel drops with the process, even one killed with SIGKILL.
DeviceClaim ClaimDevice(const std::string& device) {
    if (device.empty()) {
        return {-1, DeviceState::Missing, {}, false};
    }
    // Non-blocking, so a line waiting for carrier cannot hang the open, and a write never
    // waits for a line that does not drain.
    int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        DeviceState state = StateAfterFailedOpen(error);
        return {-1, state,
                state == DeviceState::HeldByAnother ? "exclusive open" : std::strerror(error),
                false};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || !::isatty(fd)) {
        return Refused(fd, DeviceState::NotATerminal, {});
    }
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return Refused(fd, DeviceState::HeldByAnother, "exclusive open");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        return error == EWOULDBLOCK ? Refused(fd, DeviceState::HeldByAnother, "flock")
                                    : Refused(fd, DeviceState::OtherError, std::strerror(error));
    }
    return {fd, DeviceState::Free, {}, IsPseudoTerminal(info)};
}
