#include "serial/kept_port.h"

#include <chrono>

#include "serial/device_probe.h"

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
    return OpenAndSay();
}

void KeptPort::Close() {
    // Also for a port that is not open: one that was lost, or failed to open, would otherwise
    // be taken again when its device comes back, against the user's new choice.
    chosen_ = false;
    if (device_.PortOpen()) {
        device_.Close();
    }
    Log().PortClosed(device_.CommPort());
}

bool KeptPort::Output(std::string_view bytes) {
    bool written = device_.Output(bytes);
    if (!written && device_.PortOpen()) {
        LetGo(PortLoss::WriteFailed);
    }
    return written;
}

void KeptPort::Reopen() {
    if (device_.PortOpen() && device_.Vanished()) {
        LetGo(PortLoss::Vanished);
    }
    if (!chosen_ || device_.PortOpen() || now_() - lastTry_ < kRetrySpacingMs) {
        return;
    }
    lastTry_ = now_();
    OpenAndSay();
}

bool KeptPort::OpenAndSay() {
    std::string device = device_.Device();
    if (device_.Open()) {
        Log().PortOpened(device_.CommPort(), device);
        return true;
    }
    if (!device.empty()) {
        Log().OpenFailed(device_.CommPort(), device, ProbeReason(ProbeDevice(device)));
    }
    return false;
}

void KeptPort::LetGo(PortLoss why) {
    device_.Close();
    std::string device = device_.Device();
    // A device still there after it was let go was hung up, not unplugged.
    if (why == PortLoss::Vanished && !device.empty() &&
        ProbeDevice(device).state != DeviceState::Missing) {
        why = PortLoss::HungUp;
    }
    Log().PortLost(device_.CommPort(), device, why);
}
