// What the tick does when the PC clock is stepped, changes zone rules or runs far ahead.

#include <gtest/gtest.h>

#include "clock/clock_setter.h"
#include "clock/sync_wait.h"
#include "clock/transmission_tick.h"
#include "log/event_log.h"
#include "settings/settings_file.h"
#include "support/fake_clock.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

namespace {

class SteppedClock : public ::testing::Test {
  protected:
    FakeClock clock{UtcInstant(2026, 12, 6, 14, 5, 0)};
    RecordingPort port;
    std::vector<std::string> shown;
    TransmissionTick tick{clock, port, [this](const std::string& text) { shown.push_back(text); }};

    void SetUp() override { port.open = true; }

    // Ticks every 100 ms for the given time.
    void RunFor(int milliseconds) {
        for (int elapsed = 0; elapsed < milliseconds; elapsed += 100) {
            tick.TransmitTick();
            clock.Advance(100);
        }
    }
    std::string LastSent() const { return port.writes.empty() ? "" : port.writes.back(); }
};

}  // namespace

TEST_F(SteppedClock, SteppedBackAnHourItWaitsForTheNextSecondThenSendsTheNewTime) {
    ScopedTimeZone zone("UTC0");
    RunFor(1'000);
    clock.Set(UtcInstant(2026, 12, 6, 13, 5, 0), 500);  // back an hour: the same seconds field
    RunFor(500);
    EXPECT_EQ(shown.size(), 1u);
    RunFor(1'500);
    EXPECT_EQ(LastSent(), "*020513061220260000000001000000000#");
}

TEST_F(SteppedClock, SteppedForwardADayItSendsTheNewDateAtOnce) {
    ScopedTimeZone zone("UTC0");
    RunFor(1'000);
    clock.Set(UtcInstant(2026, 12, 7, 14, 5, 2));
    RunFor(100);
    EXPECT_EQ(LastSent(), "*020514071220260000000001000000000#");
}

TEST_F(SteppedClock, DaylightSavingChangesMoveLocalPacketsButNotUtcOnes) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // Spring forward: 00:59:58 UTC on 29 March 2026 is 01:59:58 CET; two seconds on, 03:00 CEST.
    clock.Set(UtcInstant(2026, 3, 29, 0, 59, 58));
    RunFor(2'100);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0].substr(1, 6), "585901");
    EXPECT_EQ(port.writes[1].substr(1, 6), "000003");
    // Fall back: 00:59:58 UTC on 25 October is 02:59:58 CEST; two seconds on, 02:00 CET.
    clock.Set(UtcInstant(2026, 10, 25, 0, 59, 58));
    tick.utcMode = false;
    RunFor(2'100);
    EXPECT_EQ(LastSent().substr(1, 6), "000002");
    tick.utcMode = true;
    RunFor(2'000);
    EXPECT_EQ(LastSent().substr(1, 6), "020001");  // UTC runs straight on
}

TEST_F(SteppedClock, YearsAfter2038AndTheLastSecondOf9999BuildFullPackets) {
    ScopedTimeZone zone("UTC0");
    clock.Set(UtcInstant(2038, 1, 19, 3, 14, 8));
    RunFor(100);
    EXPECT_EQ(LastSent(), "*081403190120380000000001000000000#");

    tick.utcMode = true;
    clock.Set(UtcInstant(9999, 12, 31, 23, 59, 58));
    RunFor(100);
    EXPECT_EQ(LastSent(), "*585923311299990000000001000000000#");
    RunFor(2'000);  // into the year 10000: still a packet of the fixed layout, never a crash
    EXPECT_EQ(LastSent().size(), kPacketLength);
    EXPECT_EQ(shown.back().size(), kPacketLength);
}

// The engine both programs run, as the mark timer tells it that the wall clock was set.
class SetterOnASteppedClock : public SteppedClock {
  protected:
    ScopedTimeZone zone{"UTC0"};
    TempDir dir;
    std::vector<std::string> said;
    ClockSetter setter{clock, port, settingsFilePath(dir.path())};

    void SetUp() override {
        WriteFile(settingsFilePath(dir.path()), "[SerialSync]\nCOMPORT=+COM3\n");
        EXPECT_EQ(setter.Load(), "+COM3");
        Log().SetOutput(
            [this](Priority, std::string_view text, std::int64_t) { said.emplace_back(text); });
    }
    void TearDown() override { Log().SetOutput({}); }
    void TickFor(int milliseconds) {
        for (int elapsed = 0; elapsed < milliseconds; elapsed += 100) {
            setter.Tick();
            clock.Advance(100);
        }
    }
};

TEST_F(SetterOnASteppedClock, AStepEitherWayIsSaidAsAClockSetNeverAsSecondsSentLate) {
    TickFor(1'000);
    clock.Advance(30'000);  // set forward: the gap since the last tick is no lateness
    setter.ClockWasSet(30'000);
    TickFor(2'000);
    EXPECT_EQ(LastSent(), "*320514061220260000000001000000000#");
    clock.Advance(-45'000);  // and back
    setter.ClockWasSet(-45'000);
    TickFor(2'000);
    EXPECT_EQ(LastSent(), "*480414061220260000000001000000000#");
    EXPECT_EQ(said, (std::vector<std::string>{"the clock was set forward by 30.000 s",
                                              "the clock was set back by 45.000 s"}));
}

TEST_F(SetterOnASteppedClock, TheServiceSendsOnlyATimeItCanVouchFor) {
    ClockSync sync{true, false};
    SyncWait wait([&sync] { return sync; });
    wait.ReadSetting(settingsFilePath(dir.path()));
    auto tickFor = [&](int milliseconds) {
        for (int elapsed = 0; elapsed < milliseconds; elapsed += 100) {
            wait.MaySend() ? setter.Tick() : setter.Withhold();
            clock.Advance(100);
        }
    };
    tickFor(20'000);
    EXPECT_TRUE(port.writes.empty());
    sync.synchronised = true;
    tickFor(2'000);  // the next even second, and the wait is no lateness
    EXPECT_EQ(port.writes.size(), 1u);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0].rfind(kWaitingForSync, 0), 0u);
    EXPECT_EQ(said[1], "the system clock is synchronised: sending");

    // A box whose clock is right without a time source says so.
    sync.synchronised = false;
    WriteFile(settingsFilePath(dir.path()), "[service]\nsendunsynchronised=true\n");
    wait.ReadSetting(settingsFilePath(dir.path()));
    tickFor(2'000);
    EXPECT_EQ(port.writes.size(), 2u);
    sync.known = false;  // nor does a system that does not say wait
    EXPECT_TRUE(SyncWait([&sync] { return sync; }).MaySend());
}
