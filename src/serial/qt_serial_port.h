#pragma once

#include <QSerialPort>
#include <functional>

#include "serial/line_settings.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"

// The serial adapter over QSerialPort. Opens write-only, so nothing that arrives from the
// emitter is ever read or buffered; holds the device exclusively while open. The port names
// are asked for at every open, so a [Ports] line added while the program runs counts at once.
class QtSerialPort final : public SerialPort {
  public:
    explicit QtSerialPort(std::function<PortNames()> names);
    ~QtSerialPort() override;

    void SetCommPort(std::int16_t number) override { commPort_ = number; }
    std::int16_t CommPort() const override { return commPort_; }
    void SetSettings(const std::string& settings) override { settings_ = settings; }
    bool Open() override;
    void Close() override;
    bool PortOpen() const override { return port_.isOpen(); }
    bool Output(std::string_view bytes) override;
    bool Vanished() const override;

    // The device the current port number maps to.
    std::string Device() const override { return names_().DeviceFor(commPort_); }

  private:
    std::function<PortNames()> names_;
    QSerialPort port_;
    std::int16_t commPort_ = 1;
    std::string settings_{kLineSettings};
};
