#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Makes sense of what arrives on a line the emitter listens to: packets, when their first
// byte came, and anything that is not a packet.
class PacketStream {
  public:
    struct Event {
        double arrival = 0;     // wall-clock seconds of the first byte
        std::string bytes;      // the packet, or the bytes that are not one
        bool isPacket = false;  // 35 bytes from "*"
        std::string error;      // why a packet is malformed; empty when it is fine
        std::string reference;  // "local" or "UTC": which reading of it matches the PC clock
        double latenessMs = 0;  // first byte after the start of the second it names
        long namedSecond = 0;   // seconds since 1970 of the second it names
    };

    // Bytes as they arrived at one moment; returns what they completed.
    std::vector<Event> Feed(std::string_view bytes, double arrival);
    // What is left at the end, shown rather than dropped.
    std::vector<Event> Finish();

  private:
    Event Judge(const std::string& packet, double arrival) const;

    std::string pending_;
    double pendingSince_ = 0;
};

struct ListenSummary {
    int packets = 0;
    int malformed = 0;
    int notPackets = 0;
    double perMinute = 0;
    int missed = 0;   // even seconds between the first and last packet that never came
    int doubled = 0;  // even seconds that came more than once
    std::optional<double> medianMs;
    std::optional<double> largestMs;
};

ListenSummary Summarise(const std::vector<PacketStream::Event>& events, double seconds);

// Opens the device at 9600 8N1, never writes to it, and reports for the given time.
// Returns the exit status: 0 when packets came and all were well formed, 1 otherwise,
// 2 when the device cannot be opened.
int Listen(const std::string& device, double seconds, bool json);
