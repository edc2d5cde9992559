#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

// A pseudo-terminal standing in for the serial device: the program writes to the device
// (the slave side) and the test reads what arrives on the line from the master side.
class PtyPair {
  public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            device_ = name;
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
            termios raw{};
            ::tcgetattr(slave_, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(slave_, TCSANOW, &raw);
        }
    }
    ~PtyPair() { CloseLine(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& device() const { return device_; }
    int master() const { return master_; }

    // Reads what arrives within the time limit, stopping early once count bytes are in.
    std::string Read(std::size_t count, std::chrono::milliseconds limit) {
        std::string received;
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (received.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd ready{master_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[256];
            ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            received.append(buffer, static_cast<std::size_t>(got));
        }
        return received;
    }

    // The emitter goes away: both ends close.
    void CloseLine() {
        if (master_ >= 0) {
            ::close(master_);
        }
        if (slave_ >= 0) {
            ::close(slave_);
        }
        master_ = slave_ = -1;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
};
