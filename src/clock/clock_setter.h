#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "clock/pc_clock.h"
#include "clock/time_reference.h"
#include "clock/transmission_tick.h"
#include "serial/kept_port.h"
#include "serial/serial_port.h"

// The policy of the load and of the tick, in the window and the service alike: a step that
// fails is skipped silently and the next one runs.
template <typename Step>
void ContinueOnError(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

// What keeps the clock set, as both programs run it: the kept port, the transmission tick and
// the UTC/LOCAL choice, loaded from the settings file in the one order, ticked on the marks,
// told when the wall clock is set. The programs add only what is theirs: the window its
// controls and tray, the service its signals.
class ClockSetter {
  public:
    ClockSetter(
        const PcClock& clock, SerialPort& device, std::filesystem::path settingsFile,
        TransmissionTick::PacketSink showPacket = [](const std::string&) {});

    // The saved port restored, the line settings set and the port opened, then UTC/LOCAL
    // restored; continues on error. Returns the port list's text the restore found.
    const std::string& Load();

    // The file was changed by hand: the port and the mode as it now says, without a restart.
    // The new port is open before the next even second comes.
    void Reload();

    // The work of every 100 ms mark.
    void Tick() { tick_.TransmitTick(); }
    // A mark whose work is held back (the service waiting for a time it can vouch for): no
    // packet, and the wait is no lateness once the ticks go on.
    void Withhold() { tick_.ClockWasSet(); }

    // The wall clock was set by stepMilliseconds, either way: said as a clock set, and the
    // tick is told that the gap since it last ran is no lateness.
    void ClockWasSet(std::int64_t stepMilliseconds);

    // The port let go, ready to end.
    void Stop() { port_.Close(); }

    // The settings file exists but cannot be read, so the defaults hold: says so, or the log
    // would read as if all was well.
    void SayIfUnreadable() const;

    KeptPort& port() { return port_; }
    TimeReference& timeReference() { return timeReference_; }
    const std::optional<bool>& utcMode() const { return tick_.utcMode; }
    bool utc() const { return tick_.utcMode.value_or(false); }
    const std::string& portText() const { return portText_; }

  private:
    void RestoreAndOpen();

    std::filesystem::path settingsFile_;
    std::string openedDevice_;  // the device the last restore opened, to tell a new mapping
    KeptPort port_;
    TransmissionTick tick_;
    TimeReference timeReference_;
    std::string portText_ = "None";  // until a restore, no port is chosen
};
