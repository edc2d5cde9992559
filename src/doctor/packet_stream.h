#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Makes sense of what arrives on a line the emitter listens to: packets, when their first
// byte came, and anything that is not a packet. Bytes that are not packets make one run
// until a packet, a pause or a second ends it, so a device that floods the line (the wrong
// one, or at another speed) gives a line a second, not one a few bytes.
class PacketStream {
  public:
    struct Event {
        double arrival = 0;      // wall-clock seconds of the first byte
        std::string bytes;       // the packet, or the first kShownBytes of a run that is not one
        bool isPacket = false;   // 35 bytes from "*"
        std::string error;       // why a packet is malformed; empty when it is fine
        std::string reference;   // "local" or "UTC": which reading of it matches the PC clock
        double latenessMs = 0;   // first byte after the start of the second it names
        long namedSecond = 0;    // seconds since 1970 of the second it names
        std::size_t length = 0;  // the bytes that came, all of a run's
    };
    static constexpr std::size_t kShownBytes = 40;

    // Bytes as they arrived at one moment; returns what they completed.
    std::vector<Event> Feed(std::string_view bytes, double arrival);
    // What is left at the end, shown rather than dropped.
    std::vector<Event> Finish();

  private:
    Event Judge(const std::string& packet, double arrival) const;
    void AddToRun(std::vector<Event>& events);
    void EndRun(std::vector<Event>& events);

    std::string pending_;
    double pendingSince_ = 0;   // its first byte's arrival
    double pendingLast_ = 0;    // its last byte's
    std::optional<Event> run_;  // bytes that are not packets, not yet shown
    double runLastArrival_ = 0;
    std::size_t junkBytes_ = 0;  // not packets since the last packet or pause, over runs
};

// A packet's first byte may come this long after the second it names and still set the clock
// on time.
inline constexpr double kLatestFirstByteMs = 100;
