#pragma once

#include <cstdint>
#include <functional>

#include "log/event_log.h"
#include "serial/serial_port.h"

// The port as the program uses it: the adapter, plus the memory that a port was chosen. A port
// whose open failed, or whose write failed because the device vanished or hung up, is still
// the user's choice: Reopen() tries it again, quietly, until the device is back. Only a close
// asked for (another entry, "None", "Close and Exit") ends the choice, whether the port is
// open or not. Each change of the device's state goes to the log; the log keeps a lasting
// absence down to a line an hour.
class KeptPort final : public SerialPort {
  public:
    using SteadyMilliseconds = std::function<std::int64_t()>;

    explicit KeptPort(SerialPort& device, SteadyMilliseconds now = SteadyClockMilliseconds);

    void SetCommPort(std::int16_t number) override { device_.SetCommPort(number); }
    std::int16_t CommPort() const override { return device_.CommPort(); }
    void SetSettings(const std::string& settings) override { device_.SetSettings(settings); }
    bool Open() override;
    // Ends the choice, and closes the device if it is open.
    void Close() override;
    bool PortOpen() const override { return device_.PortOpen(); }
    // A failed write lets the device go, so that Reopen() can have it again once it is back.
    bool Output(std::string_view bytes) override;
    bool Vanished() const override { return device_.Vanished(); }
    std::string Device() const override { return device_.Device(); }

    // Lets go of a device that has vanished, and opens the chosen port again if it is not
    // open, at most once every two seconds.
    void Reopen();

    bool chosen() const { return chosen_; }

    static std::int64_t SteadyClockMilliseconds();

  private:
    bool OpenAndSay();
    void LetGo(PortLoss why);

    SerialPort& device_;
    SteadyMilliseconds now_;
    bool chosen_ = false;
    std::int64_t lastTry_ = 0;
};
