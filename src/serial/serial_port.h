#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The program's only path to the infrared emitter: a port number, line settings, an open
// state and output. It only ever writes. Failures come back as return values; nothing throws.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Takes effect at the next open; callers change it only while the port is closed.
    virtual void SetCommPort(std::int16_t number) = 0;
    virtual std::int16_t CommPort() const = 0;

    // "baud,parity,data bits,stop bits", such as the emitter's (kLineSettings); used by every
    // later open.
    virtual void SetSettings(const std::string& settings) = 0;

    // PortOpen := true. False when the device cannot be had; the port then stays closed.
    virtual bool Open() = 0;
    // PortOpen := false; releases the device.
    virtual void Close() = 0;
    virtual bool PortOpen() const = 0;

    // Hands the bytes to the line exactly as given and returns at once. False if they could
    // not be handed over (the device has gone, for instance).
    virtual bool Output(std::string_view bytes) = 0;

    // Whether the open device has gone (unplugged) or its line was hung up, as far as the
    // adapter can tell without writing. Adapters that cannot tell say no.
    virtual bool Vanished() const { return false; }

    // The device the current port number maps to, for people to read; empty where the adapter
    // has no such name.
    virtual std::string Device() const { return {}; }
};
