#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "doctor/packet_stream.h"

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

// The summary's counts, taken as the events come, so that what a long or flooded listening
// keeps is counts: one lateness for each second a packet named, never the events themselves.
class ListenTally {
  public:
    void Count(const PacketStream::Event& event);
    // started and ended are the PC clock's seconds when listening began and ended: the even
    // seconds between them, less the last kLatestFirstByteMs, are the ones a packet was due
    // for. The median lateness is of each second's first packet, the largest of all.
    ListenSummary Summary(double started, double ended) const;

  private:
    ListenSummary counts_;
    std::map<long, double> firstLatenessMs_;  // by the second named
};

ListenSummary Summarise(const std::vector<PacketStream::Event>& events, double started,
                        double ended);

// The events --json lists: the last ones heard.
inline constexpr std::size_t kListedEvents = 100;

// Opens the device at 9600 8N1, drops what waited in its input buffer, never writes to it,
// and reports for the given time, which holds however much arrives; then puts the line
// settings back as they were. Returns the exit status: 0 when the stream was healthy, 1
// otherwise, 2 when the device cannot be opened.
int Listen(const std::string& device, double seconds, bool json);
