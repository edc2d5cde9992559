#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "doctor/listen_line.h"

namespace {

// The line as the listener needs it; saved holds the settings to put back afterwards, since
// they belong to the device and outlive this program's open.
bool OpenRaw9600(int fd, termios& saved) {
    if (::tcgetattr(fd, &saved) != 0) {
        return false;
    }
    termios line = saved;
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    line.c_cflag |= CS8;
    // What waited in the input buffer was sent before anyone listened: replayed, it would
    // show as packets tens of seconds late.
    return ::cfsetispeed(&line, B9600) == 0 && ::cfsetospeed(&line, B9600) == 0 &&
           ::tcsetattr(fd, TCSANOW, &line) == 0 && ::tcflush(fd, TCIFLUSH) == 0;
}

class PosixLine : public ListenLine {
  public:
    PosixLine(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
    ~PosixLine() override {
        ::tcsetattr(fd_, TCSANOW, &saved_);
        ::close(fd_);
    }

    std::string Read(int timeoutMs) override {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) <= 0) {
            return {};
        }
        char buffer[4096];  // a line that floods is drained in big bites
        ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            ::usleep(100'000);  // a hung-up line: wait for it to come back, do not spin
        }
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string{};
    }

  private:
    int fd_;
    termios saved_;
};

}  // namespace

std::unique_ptr<ListenLine> ListenLine::Open(const std::string& device, std::string& error) {
    int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios saved{};
    if (fd < 0 || !OpenRaw9600(fd, saved)) {
        error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    return std::make_unique<PosixLine>(fd, saved);
}
