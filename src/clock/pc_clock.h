#pragma once

#include <cstdint>
#include <string>

// One look at the PC clock. Everything the program derives from the time in one tick comes
// from one reading, so the texts and the UTC value always describe the same instant.
struct PcClockReading {
    std::int64_t unixSeconds = 0;  // the instant, whole seconds since 1970 UTC
    int millisecond = 0;           // how far into that second the reading was taken
    std::string timeText;          // local "hh:mm:ss", 24-hour
    std::string dateText;          // local "mm-dd-yyyy"
};

class PcClock {
  public:
    virtual ~PcClock() = default;
    virtual PcClockReading Read() const = 0;
};

// The real clock, in the zone the system's settings give at the moment of the reading.
class SystemPcClock final : public PcClock {
  public:
    PcClockReading Read() const override;
};

// The reading the PC clock gives at an instant, in the current local zone.
PcClockReading ReadingAt(std::int64_t unixSeconds, int millisecond = 0);
