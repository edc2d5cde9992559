#pragma once

#include <filesystem>
#include <string>

#include "clock/pc_clock.h"
#include "clock/time_reference.h"
#include "clock/transmission_tick.h"
#include "serial/kept_port.h"
#include "serial/serial_port.h"
#include "qtcore/mark_timer.h"

// The program's work without its window: the same load steps in the same order, the same
// ticks on the same 100 ms marks, the same kept port. The settings file belongs to the
// administrator, so nothing here ever writes it.
class ClockService {
  public:
    ClockService(const PcClock& clock, SerialPort& device, std::filesystem::path settingsFile,
                 std::string version);

    // The window's load steps that are not about the window: the saved port restored and
    // opened, then UTC/LOCAL. Continues on error, as the window does.
    void Load();

    // The administrator changed the file: the port and the mode as the file now says, without
    // a restart. The new port is open before the next even second comes.
    void Reload();

    // The port closed, ready to end.
    void Stop();

    const std::string& portText() const { return portText_; }
    bool utc() const { return tick_.utcMode.value_or(false); }

  private:
    void SayIfUnreadable();  // the defaults hold: say so, or the log would read as if all was well
    void RestoreAndOpen();

    std::filesystem::path settingsFile_;
    std::string version_;
    KeptPort port_;
    TransmissionTick tick_;
    TimeReference timeReference_;
    MarkTimer SendUDP;
    std::string portText_;
};
