#include "service/systemd_notify.h"

#include <systemd/sd-daemon.h>

SystemdNotify::SystemdNotify() {
    std::uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) > 0) {
        aliveEveryMs_ = static_cast<std::int64_t>(microseconds / 2000);
    }
}

void SystemdNotify::Ready() {
    sd_notify(0, "READY=1");
}

void SystemdNotify::Status(const std::string& words) {
    if (words != status_) {
        status_ = words;
        sd_notify(0, ("STATUS=" + words).c_str());
    }
}

void SystemdNotify::Alive(std::int64_t steadyMilliseconds) {
    if (aliveEveryMs_ > 0 && steadyMilliseconds - lastAliveMs_ >= aliveEveryMs_) {
        lastAliveMs_ = steadyMilliseconds;
        sd_notify(0, "WATCHDOG=1");
    }
}

void SystemdNotify::Stopping() {
    sd_notify(0, "STOPPING=1");
}
