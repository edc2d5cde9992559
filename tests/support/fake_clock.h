#pragma once

#include <cstdint>

#include "clock/pc_clock.h"

// A PC clock that shows whatever instant the test sets.
class FakeClock final : public PcClock {
  public:
    explicit FakeClock(std::int64_t unixSeconds = 0, int millisecond = 0)
        : seconds_(unixSeconds), millisecond_(millisecond) {}

    PcClockReading Read() const override { return ReadingAt(seconds_, millisecond_); }

    void Set(std::int64_t unixSeconds, int millisecond = 0) {
        seconds_ = unixSeconds;
        millisecond_ = millisecond;
    }
    void Advance(int milliseconds) {
        std::int64_t total = seconds_ * 1000 + millisecond_ + milliseconds;
        seconds_ = total / 1000;
        millisecond_ = static_cast<int>(total % 1000);
    }

  private:
    std::int64_t seconds_;
    int millisecond_;
};
