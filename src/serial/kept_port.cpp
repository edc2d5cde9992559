#include "serial/kept_port.h"

#include <chrono>

namespace {

// The retries come at the end of odd seconds, two seconds apart; a tick a little early must
// not skip one.
constexpr std::int64_t kRetrySpacingMs = 1500;

}  // namespace

KeptPort::KeptPort(SerialPort& device, SteadyMilliseconds now)
    : device_(device), now_(std::move(now)) {}

std::int64_t KeptPort::SteadyClockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool KeptPort::Open() {
    chosen_ = true;
    lastTry_ = now_();
    return device_.Open();
}

void KeptPort::Close() {
    // Also for a port that is not open: one that was lost, or failed to open, would otherwise
    // be taken again when its device comes back, against the user's new choice.
    chosen_ = false;
    if (device_.PortOpen()) {
        device_.Close();
    }
}

bool KeptPort::Output(std::string_view bytes) {
    bool written = device_.Output(bytes);
    if (!written && device_.PortOpen()) {
        device_.Close();
    }
    return written;
}

void KeptPort::Reopen() {
    if (device_.PortOpen() && device_.Vanished()) {
        device_.Close();
    }
    if (!chosen_ || device_.PortOpen() || now_() - lastTry_ < kRetrySpacingMs) {
        return;
    }
    lastTry_ = now_();
    device_.Open();
}
