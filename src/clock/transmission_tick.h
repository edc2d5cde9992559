#pragma once

#include <functional>
#include <optional>
#include <string>

#include "clock/packet.h"
#include "clock/pc_clock.h"
#include "serial/serial_port.h"

// The work of the SendUDP timer. At each new second of the PC clock it builds a fresh packet
// and shows it in Text1; on even seconds it writes it to the port if the port is open. So the
// clock gets 30 packets a minute, at seconds 00, 02 ... 58. A packet leaves within the first
// 100 ms of the second it names or not at all: one sent later (after a stall, a suspend, or
// at start-up) would set the clock most of a second wrong; the log says when that happened.
class TransmissionTick {
  public:
    using PacketSink = std::function<void(const std::string&)>;

    TransmissionTick(const PcClock& clock, SerialPort& port, PacketSink showPacket);

    // Runs every 100 ms. Continues on error: a failed write is ignored and the next even
    // second tries again.
    void TransmitTick();

    // true: build from UTC; false or not yet set: from local time. Set by the UTC/LOCAL choice.
    std::optional<bool> utcMode;

    // Runs on the ticks of the last tenth of every odd second, so that what it does (reopening
    // a lost port) is ready just in time for the even second that follows.
    std::function<void()> beforeEvenSecond;

    const std::string& packetText() const { return packetText_; }

    // The clock was set: the gap since the last tick says nothing about lateness.
    void ClockWasSet() { lastTickMs_ = -1; }

  private:
    const PcClock& clock_;
    SerialPort& port_;
    PacketSink showPacket_;
    std::string lastSecond_;        // seconds field seen by the last tick that did work
    std::string lastMark_;          // seconds field at the last send decision
    std::string packetText_;        // the last packet built
    std::int64_t lastTickMs_ = -1;  // the clock at the last tick; -1 before the first
};
