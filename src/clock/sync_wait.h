#pragma once

#include <filesystem>
#include <functional>

#include "system/wall_clock.h"

// The service sends only a time it can vouch for. A box without a clock of its own (a
// Raspberry Pi) boots with the time it had at shutdown, and one whose time source never
// answers keeps it; so while the kernel says the wall clock is not synchronised, nothing is
// sent, and sending starts at the next even second after it is. A box whose clock is right
// without a time source (a real-time clock set by hand) says so in its settings file:
// [Service] SendUnsynchronised=True.
class SyncWait {
  public:
    using Reader = std::function<ClockSync()>;

    explicit SyncWait(Reader read = ReadClockSync);

    // The setting, as the settings file says now; at the start and at every reload.
    void ReadSetting(const std::filesystem::path& settingsFile);

    // Whether a packet may go now. Says once when the wait begins and once when it is over.
    bool MaySend();

    bool waiting() const { return waiting_; }
    bool sendsRegardless() const { return sendRegardless_; }

  private:
    Reader read_;
    bool sendRegardless_ = false;
    bool waiting_ = false;
    bool toldUnknown_ = false;
};

// The words for the state while it waits, in the log and the service's status.
inline constexpr const char kWaitingForSync[] = "waiting for the system clock to be synchronised";
