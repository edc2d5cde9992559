#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "doctor/listen_line.h"

namespace {

bool OpenRaw9600(int fd) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    line.c_cflag |= CS8;
    return ::cfsetispeed(&line, B9600) == 0 && ::cfsetospeed(&line, B9600) == 0 &&
           ::tcsetattr(fd, TCSANOW, &line) == 0;
}

class PosixLine : public ListenLine {
  public:
    explicit PosixLine(int fd) : fd_(fd) {}
    ~PosixLine() override { ::close(fd_); }

    std::string Read(int timeoutMs) override {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) <= 0) {
            return {};
        }
        char buffer[256];
        ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            ::usleep(100'000);  // a hung-up line: wait for it to come back, do not spin
        }
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string{};
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<ListenLine> ListenLine::Open(const std::string& device, std::string& error) {
    int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !OpenRaw9600(fd)) {
        error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    return std::make_unique<PosixLine>(fd);
}

double WallSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
