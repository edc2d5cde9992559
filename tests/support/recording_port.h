#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "serial/serial_port.h"

// A serial adapter that remembers what was done to it. Ports listed in missing fail to open.
class RecordingPort final : public SerialPort {
  public:
    void SetCommPort(std::int16_t number) override {
        commPort = number;
        events.push_back("port " + std::to_string(number));
    }
    std::int16_t CommPort() const override { return commPort; }
    void SetSettings(const std::string& text) override {
        settings = text;
        events.push_back("settings " + text);
    }
    bool Open() override {
        events.push_back("open " + std::to_string(commPort));
        if (onOpen) {
            onOpen();
        }
        vanished = false;
        open = missing.count(commPort) == 0;
        return open;
    }
    void Close() override {
        events.push_back("close");
        open = false;
    }
    bool PortOpen() const override { return open; }
    bool Output(std::string_view bytes) override {
        writes.emplace_back(bytes);
        return open && !failWrites;
    }

    bool Vanished() const override { return open && vanished; }
    std::string Device() const override { return device; }

    std::int16_t commPort = 1;
    bool vanished = false;
    std::string device;  // none unless the test names one
    std::string settings;
    bool open = false;
    bool failWrites = false;
    std::set<int> missing;
    std::vector<std::string> events;
    std::vector<std::string> writes;
    std::function<void()> onOpen;  // what the test looks at as the port is opened
};
