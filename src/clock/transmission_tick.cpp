#include "clock/transmission_tick.h"

#include "clock/tick_schedule.h"
#include "clock/utc.h"
#include "log/event_log.h"

namespace {

// Characters 7-8 of the time text.
std::string SecondsField(const PcClockReading& reading) {
    return reading.timeText.size() >= 8 ? reading.timeText.substr(6, 2) : std::string();
}

bool IsEven(const std::string& secondsField) {
    return !secondsField.empty() && (secondsField.back() - '0') % 2 == 0;
}

// How late into its second a packet may still leave: one tick period.
constexpr int kFreshForMs = 100;

// The even seconds whose first tenth passed with no tick in it, between two ticks.
std::int64_t EvenSecondsMissed(std::int64_t lastTickMs, std::int64_t nowMs) {
    constexpr std::int64_t kTwoSeconds = 2000;
    std::int64_t latestPassed = nowMs - kFreshForMs;  // its tenth ended before this tick
    if (lastTickMs < 0 || latestPassed <= lastTickMs) {
        return 0;
    }
    return latestPassed / kTwoSeconds - lastTickMs / kTwoSeconds;
}

}  // namespace

TransmissionTick::TransmissionTick(const PcClock& clock, SerialPort& port, PacketSink showPacket)
    : clock_(clock), port_(port), showPacket_(std::move(showPacket)) {}

void TransmissionTick::TransmitTick() {
    // One reading serves the whole tick, so the packet's time, date and the second it is sent
    // in can never disagree.
    PcClockReading now = clock_.Read();
    std::string second = SecondsField(now);
    std::int64_t nowMs = now.unixSeconds * 1000 + now.millisecond;
    if (std::int64_t missed = EvenSecondsMissed(lastTickMs_, nowMs);
        missed > 0 && port_.PortOpen()) {
        std::int64_t firstMissed = (lastTickMs_ / 2000 + 1) * 2000;
        Log().SecondsNotSent(static_cast<int>(missed), nowMs - firstMissed);
    }
    lastTickMs_ = nowMs;
    if (!IsEven(second) && now.millisecond >= 1000 - kTickPeriodMs && beforeEvenSecond) {
        beforeEvenSecond();
    }
    if (second == lastSecond_) {
        return;
    }
    lastSecond_ = second;

    packetText_ = utcMode.value_or(false) ? BuildUtcPacket(CurrentUtcCalendarValue(now))
                                          : BuildLocalPacket(now.timeText, now.dateText);
    showPacket_(packetText_);

    bool due = second != lastMark_;
    if (due) {
        lastMark_ = second;
    }
    if (due && port_.PortOpen() && IsEven(second) && now.millisecond < kFreshForMs) {
        port_.Output(packetText_);  // a failed write changes nothing else
    }
}
