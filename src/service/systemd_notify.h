#pragma once

#include <cstdint>
#include <string>

// What systemd is told of the service where it asks (Type=notify; elsewhere nothing is sent):
// that the load step has run, the state in words for `systemctl status`, and that the event
// loop still runs, so that its watchdog restarts one that hangs.
class SystemdNotify {
  public:
    SystemdNotify();

    void Ready();
    // Sent only when the words change.
    void Status(const std::string& words);
    // From the tick: the watchdog hears from it twice in each of its intervals.
    void Alive(std::int64_t steadyMilliseconds);
    void Stopping();

  private:
    std::string status_;
    std::int64_t aliveEveryMs_ = 0;  // 0: no watchdog is set
    std::int64_t lastAliveMs_ = 0;
};
