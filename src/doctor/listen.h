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

// A packet's first byte may come this long after the second it names and still set the clock
// on time.
inline constexpr double kLatestFirstByteMs = 100;

struct ListenSummary {
    int packets = 0;  // well formed
    int malformed = 0;
    int notPackets = 0;
    double perMinute = 0;
    int missed = 0;      // even seconds of the time spent listening that no packet named
    int doubled = 0;     // packets beyond the first that named the same second
    int oddSeconds = 0;  // packets naming an odd second
    int late = 0;        // packets whose first byte came over kLatestFirstByteMs after its second
    int neither = 0;     // packets that are neither local time nor UTC
    std::optional<double> medianMs;
    std::optional<double> largestMs;

    // Packets came, every even second once and on time, and nothing else went wrong.
    bool Healthy() const;
};

// started and ended are the PC clock's seconds when listening began and ended: the even
// seconds between them, less the last kLatestFirstByteMs, are the ones a packet was due for.
ListenSummary Summarise(const std::vector<PacketStream::Event>& events, double started,
                        double ended);

// Opens the device at 9600 8N1, drops what waited in its input buffer, never writes to it,
// and reports for the given time; then puts the line settings back as they were.
// Returns the exit status: 0 when the stream was healthy, 1 otherwise, 2 when the device
// cannot be opened.
int Listen(const std::string& device, double seconds, bool json);
