#include "serial/termios_serial_port.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "serial/device_claim.h"
#include "serial/line_settings.h"
#include "serial/port_selection.h"

namespace {

std::optional<speed_t> StandardSpeed(int baud) {
    static constexpr struct {
        int baud;
        speed_t speed;
    } kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

tcflag_t ParityFlags(char parity) {
    switch (parity) {
        case 'e':
            return PARENB;
        case 'o':
            return PARENB | PARODD;
        case 'm':
            return PARENB | CMSPAR | PARODD;
        case 's':
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

tcflag_t DataBitFlags(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Raw output without flow control. A line has no one and a half stop bits here; it gets one,
// as it did through QSerialPort. Rates without a B constant are refused.
bool Configure(termios& line, const LineSettings& settings) {
    std::optional<speed_t> speed = StandardSpeed(settings.baud);
    if (!speed) {
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= CLOCAL | DataBitFlags(settings.dataBits) | ParityFlags(settings.parity);
    if (settings.stopBits == StopBits::Two) {
        line.c_cflag |= CSTOPB;
    }
    line.c_iflag &= ~(PARMRK | INPCK | IXON | IXOFF | IXANY);
    line.c_iflag |= IGNPAR;
    line.c_cc[VTIME] = 0;
    line.c_cc[VMIN] = 0;
    return ::cfsetispeed(&line, *speed) == 0 && ::cfsetospeed(&line, *speed) == 0;
}

}  // namespace

TermiosSerialPort::TermiosSerialPort(std::function<PortNames()> names)
    : names_(std::move(names)), settings_(kLineSettings) {}

TermiosSerialPort::~TermiosSerialPort() {
    Close();
}

bool TermiosSerialPort::Open() {
    if (fd_ >= 0) {
        return false;
    }
    std::optional<LineSettings> settings = ParseLineSettings(settings_);
    std::string device = Device();
    if (!settings || device.empty()) {
        return false;
    }
    DeviceClaim claim = ClaimDevice(device);
    if (claim.state != DeviceState::Free) {
        return false;
    }
    fd_ = claim.fd;
    // Between copies of Beamclock the flock is the lock. TIOCEXCL keeps out programs that take
    // no flock, but it belongs to the terminal, not to the descriptor: on a pseudo-terminal it
    // stays set after a killed program's last close, for as long as the master side is open,
    // and would keep every later start out. So it is set only on devices whose last close ends
    // it, and cleared at close. A device that cannot be made exclusive (an emulator that lacks
    // the call) is still ours.
    exclusive_ = !claim.pseudoTerminal && ::ioctl(fd_, TIOCEXCL) == 0;
    termios line{};
    if (::tcgetattr(fd_, &line) != 0) {
        Close();
        return false;
    }
    before_ = line;
    if (!Configure(line, *settings) || ::tcsetattr(fd_, TCSANOW, &line) != 0) {
        Close();
        return false;
    }
    return true;
}

void TermiosSerialPort::Close() {
    if (fd_ < 0) {
        return;
    }
    if (before_) {
        ::tcsetattr(fd_, TCSANOW, &*before_);
    }
    if (exclusive_) {
        ::ioctl(fd_, TIOCNXCL);
    }
    ::close(fd_);
    fd_ = -1;
    exclusive_ = false;
    before_.reset();
}

bool TermiosSerialPort::Output(std::string_view bytes) {
    if (fd_ < 0) {
        return false;
    }
    // Straight to the device: the bytes leave now, never later from a buffer, and a device
    // that has gone away fails the write at once.
    ssize_t written;
    do {
        written = ::write(fd_, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
}

bool TermiosSerialPort::Vanished() const {
    if (fd_ < 0) {
        return false;
    }
    // A device that was unplugged or hung up reports it without being written to.
    pollfd line{fd_, 0, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
