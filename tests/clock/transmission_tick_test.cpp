#include "clock/transmission_tick.h"

#include <gtest/gtest.h>

#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/recording_port.h"
#include "support/time_zone.h"

class TransmitTickTest : public ::testing::Test {
  protected:
    ScopedTimeZone zone{"UTC0"};
    FakeClock clock{UtcInstant(2026, 12, 6, 14, 5, 0), 50};
    RecordingPort port;
    std::vector<std::string> shown;  // what Text1 received
    TransmissionTick tick{clock, port, [this](const std::string& text) { shown.push_back(text); }};

    // Ticks every 100 ms for the given time.
    void RunFor(int milliseconds) {
        for (int elapsed = 0; elapsed < milliseconds; elapsed += 100) {
            tick.TransmitTick();
            clock.Advance(100);
        }
    }
};

TEST_F(TransmitTickTest, ClosedPortStillGetsAPacketInText1EverySecond) {
    RunFor(10'000);
    EXPECT_EQ(shown.size(), 10u);
    EXPECT_EQ(shown.front(), "*000514061220260000000001000000000#");
    EXPECT_EQ(shown.back(), "*090514061220260000000001000000000#");
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(TransmitTickTest, OpenPortGetsThirtyPacketsAMinuteOnEvenSecondsOnly) {
    port.open = true;
    RunFor(60'000);
    ASSERT_EQ(port.writes.size(), 30u);
    for (std::size_t i = 0; i < port.writes.size(); ++i) {
        std::string expectedSecond = (i < 5 ? "0" : "") + std::to_string(2 * i);
        EXPECT_EQ(port.writes[i].substr(1, 2), expectedSecond);
        EXPECT_EQ(port.writes[i].size(), kPacketLength);
    }
    EXPECT_EQ(shown.size(), 60u);
}

TEST_F(TransmitTickTest, ARepeatedSecondsFieldDoesNothing) {
    port.open = true;
    tick.TransmitTick();
    clock.Set(UtcInstant(2026, 12, 6, 13, 59, 0));  // set back; the seconds field is still "00"
    tick.TransmitTick();
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(port.writes.size(), 1u);
    clock.Advance(1000);
    tick.TransmitTick();
    EXPECT_EQ(shown.back(), "*015913061220260000000001000000000#");
}

TEST_F(TransmitTickTest, ADelayedTickWorksOnceForTheSecondItSees) {
    port.open = true;
    tick.TransmitTick();
    clock.Advance(3'500);  // the window system was busy: 01, 02 and 03 never seen
    tick.TransmitTick();
    tick.TransmitTick();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.back().substr(1, 2), "03");
    EXPECT_EQ(port.writes.size(), 1u);  // 03 is odd; 02 is not made up
    clock.Set(UtcInstant(2026, 12, 6, 14, 5, 4), 0);
    tick.TransmitTick();
    EXPECT_EQ(port.writes.back().substr(1, 2), "04");
}

TEST_F(TransmitTickTest, UtcModeCarriesUtcTimeAndDateWhileLocalTimeIsUnchanged) {
    ScopedTimeZone newYork("EST5EDT,M3.2.0,M11.1.0");
    clock.Set(UtcInstant(2026, 12, 7, 4, 30, 16));  // 23:30:16 on 6 December in New York
    tick.utcMode = true;
    port.open = true;
    tick.TransmitTick();
    EXPECT_EQ(port.writes.at(0), "*163004071220260000000001000000000#");
    EXPECT_EQ(clock.Read().timeText, "23:30:16");

    tick.utcMode = false;
    clock.Advance(2'000);
    tick.TransmitTick();
    EXPECT_EQ(port.writes.at(1), "*183023061220260000000001000000000#");
}

TEST_F(TransmitTickTest, UnsetModeBuildsLocalPackets) {
    ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    tick.TransmitTick();
    EXPECT_EQ(shown.at(0), "*000515061220260000000001000000000#");
}

TEST_F(TransmitTickTest, AFailedWriteChangesNothingElse) {
    port.open = true;
    port.failWrites = true;
    RunFor(6'000);
    EXPECT_EQ(shown.size(), 6u);
    EXPECT_EQ(port.writes.size(), 3u);  // every even second tries again
    EXPECT_EQ(tick.packetText(), shown.back());
}

TEST_F(TransmitTickTest, APacketLeavesInTheFirstTenthOfItsSecondOrNotAtAll) {
    port.open = true;
    // Start-up, a resume or a stall puts the first tick of an even second late into it.
    for (int late : {100, 400, 850, 999}) {
        clock.Set(UtcInstant(2026, 12, 6, 14, 5, 10), late);
        tick.TransmitTick();
        EXPECT_TRUE(port.writes.empty()) << late;
        EXPECT_EQ(shown.back().substr(1, 2), "10");  // still built and shown
        clock.Set(UtcInstant(2026, 12, 6, 14, 5, 11), 0);
        tick.TransmitTick();
    }
    clock.Set(UtcInstant(2026, 12, 6, 14, 5, 12), 99);
    tick.TransmitTick();
    EXPECT_EQ(port.writes, (std::vector<std::string>{"*120514061220260000000001000000000#"}));
}

TEST_F(TransmitTickTest, TheLastTickOfEachOddSecondRunsTheHookBeforeTheEvenSecond) {
    std::vector<std::string> seen;
    tick.beforeEvenSecond = [&] { seen.push_back(clock.Read().timeText); };
    RunFor(4'000);  // 00.050 to 03.950, ten ticks a second
    EXPECT_EQ(seen, (std::vector<std::string>{"14:05:01", "14:05:03"}));
}

TEST_F(TransmitTickTest, EvenSecondsATickCameTooLateForAreLoggedOnceEach) {
    std::vector<std::string> logged;
    Log().SetOutput(
        [&logged](Priority, std::string_view text, std::int64_t) { logged.emplace_back(text); });
    port.open = true;
    RunFor(3000);  // on time: nothing to say
    EXPECT_TRUE(logged.empty());
    clock.Advance(4800);  // stopped from 3.050 to 7.850 s: the ticks for 4 and 6 s never came
    RunFor(1000);
    clock.Advance(1250);  // no tick from 8.750 to 10.100 s: too late for 10 s by a hair
    RunFor(100);
    tick.ClockWasSet();
    clock.Advance(60'000);  // a clock set forward is no late tick
    RunFor(1000);
    Log().SetOutput({});
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "2 even seconds not sent, late: the tick came 3.850 s late (a suspend or "
                          "a stopped process?)",
                          "1 even second not sent, late: the tick came 0.100 s late (a suspend or "
                          "a stopped process?)",
                      }));
}
