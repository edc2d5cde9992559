#pragma once

#include <termios.h>

#include <functional>
#include <optional>

#include "serial/port_names.h"
#include "serial/serial_port.h"

// The serial adapter on Linux: the device opened and set up by the program itself, written to
// straight through its descriptor. Opens write-only, so nothing that arrives from the emitter
// is ever read or buffered. Holds the device with an flock and, where it ends with the
// program, an exclusive open; no lock file in the shared lock folder decides anything, and it
// writes none. The port names are asked for at every open, so a [Ports] line added while the
// program runs counts at once.
class TermiosSerialPort final : public SerialPort {
  public:
    explicit TermiosSerialPort(std::function<PortNames()> names);
    ~TermiosSerialPort() override;
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    void SetCommPort(std::int16_t number) override { commPort_ = number; }
    std::int16_t CommPort() const override { return commPort_; }
    void SetSettings(const std::string& settings) override { settings_ = settings; }
    bool Open() override;
    void Close() override;
    bool PortOpen() const override { return fd_ >= 0; }
    bool Output(std::string_view bytes) override;
    bool Vanished() const override;

    // The device the current port number maps to.
    std::string Device() const override { return names_().DeviceFor(commPort_); }

  private:
    std::function<PortNames()> names_;
    std::int16_t commPort_ = 1;
    std::string settings_;
    int fd_ = -1;
    bool exclusive_ = false;         // whether this open set TIOCEXCL, cleared at close
    std::optional<termios> before_;  // the line as it was, put back at close
};
