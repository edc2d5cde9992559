#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "doctor/listen.h"
#include "support/pty_pair.h"
#include "support/time_zone.h"

TEST(DoctorListen, PacketsStrayBytesAndTheSummary) {
    ScopedTimeZone newYork("EST5EDT,M3.2.0,M11.1.0");
    // 14:05:10 local on 6 December 2026 is 19:05:10 UTC.
    double second = static_cast<double>(UtcInstant(2026, 12, 6, 19, 5, 10));
    PacketStream stream;
    std::vector<PacketStream::Event> events;
    auto feed = [&](const std::string& bytes, double at) {
        for (auto& event : stream.Feed(bytes, at)) {
            events.push_back(event);
        }
    };
    feed("\r\nnoise", second - 0.5);
    feed("*100514061220260000000001", second + 0.004);  // a packet in two reads
    feed("000000000#", second + 0.030);
    feed("*140514061220260000000001000000000#", second + 4.002);  // 12 never came
    feed("*140514061220260000000001000000000#", second + 4.500);  // 14 twice
    feed("*160519061220260000000001000000000#", second + 6.001);  // UTC
    feed("*18051406122026", second + 8.001);                      // cut short
    feed("*180514061220260000000001000000000#", second + 8.010);
    for (auto& event : stream.Finish()) {
        events.push_back(event);
    }

    ASSERT_EQ(events.size(), 7u);
    EXPECT_FALSE(events[0].isPacket);
    EXPECT_EQ(events[0].bytes, "\r\nnoise");
    EXPECT_EQ(events[1].reference, "local");
    EXPECT_NEAR(events[1].latenessMs, 4.0, 0.01);  // the first byte's time counts
    EXPECT_EQ(events[4].reference, "UTC");
    EXPECT_FALSE(events[5].isPacket);  // the cut packet is shown, not dropped

    ListenSummary summary = Summarise(events, second - 1, second + 9);
    EXPECT_EQ(summary.packets, 5);
    EXPECT_EQ(summary.notPackets, 2);
    EXPECT_EQ(summary.missed, 1);
    EXPECT_EQ(summary.doubled, 1);
    EXPECT_EQ(summary.late, 1);  // the second 14, 500 ms after its second
    EXPECT_NEAR(*summary.largestMs, 500, 0.01);
    EXPECT_FALSE(summary.Healthy());
}

// Streams as they were recorded: each packet with the PC clock's time of its first byte.
TEST(DoctorListen, TheStreamIsHealthyOnlyWhenEveryEvenSecondCameOnceAndOnTime) {
    ScopedTimeZone utc("UTC0");
    const double start = static_cast<double>(UtcInstant(2026, 12, 6, 19, 5, 0)) + 0.3;
    auto packet = [](int second, const char* year = "2026") {  // 19:05:second, 6 December
        char text[40];
        std::snprintf(text, sizeof text, "*%02d051906%s%s", second, "12", year);
        return std::string(text) + "0000000001000000000#";
    };
    // Listening from :00.3 to :09.05: the even seconds 2, 4, 6 and 8 were due; 10 was not.
    auto summarise = [&](const std::vector<std::pair<std::string, double>>& recorded) {
        PacketStream stream;
        std::vector<PacketStream::Event> events;
        for (const auto& [bytes, at] : recorded) {
            for (auto& event : stream.Feed(bytes, at)) {
                events.push_back(event);
            }
        }
        return Summarise(events, start, start + 8.75);
    };
    ListenSummary good = summarise({{packet(2), start + 1.705},
                                    {packet(4), start + 3.712},
                                    {packet(6), start + 5.703},
                                    {packet(8), start + 7.799}});
    EXPECT_TRUE(good.Healthy());
    EXPECT_EQ(good.missed, 0);
    EXPECT_NEAR(good.perMinute, 4 * 60 / 8.75, 0.01);

    ListenSummary gap = summarise({{packet(2), start + 1.705}, {packet(8), start + 7.705}});
    EXPECT_EQ(gap.missed, 2);
    EXPECT_FALSE(gap.Healthy());

    // A packet with a far-off date counts as neither local time nor UTC and widens nothing.
    ListenSummary farOff = summarise({{packet(2), start + 1.705},
                                      {packet(4, "2931"), start + 3.705},
                                      {packet(6), start + 5.705},
                                      {packet(8), start + 7.705}});
    EXPECT_EQ(farOff.neither, 1);
    EXPECT_EQ(farOff.missed, 1);
    EXPECT_FALSE(farOff.Healthy());

    ListenSummary odd = summarise({{packet(2), start + 1.705},
                                   {packet(3), start + 2.705},
                                   {packet(4), start + 3.705},
                                   {packet(6), start + 5.705},
                                   {packet(8), start + 7.901}});
    EXPECT_EQ(odd.oddSeconds, 1);
    EXPECT_EQ(odd.late, 1);
    EXPECT_EQ(odd.missed, 0);
    EXPECT_FALSE(odd.Healthy());
}

// A line whose buffer holds packets from before the listening, set to another speed and
// canonical input by whoever used it last.
TEST(DoctorListen, WhatWaitedIsDroppedAndTheLineIsPutBack) {
    PtyPair line;
    int other = ::open(line.device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios before{};
    ASSERT_EQ(::tcgetattr(other, &before), 0);
    before.c_lflag |= ICANON;
    ::cfsetispeed(&before, B1200);
    ASSERT_EQ(::tcsetattr(other, TCSANOW, &before), 0);
    const std::string stale = "*000000010120000000000001000000000#\n";
    ASSERT_EQ(::write(line.master(), stale.data(), stale.size()),
              static_cast<ssize_t>(stale.size()));

    testing::internal::CaptureStdout();
    int status = Listen(line.device(), 0.3, true);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1) << out;  // nothing came while it listened
    EXPECT_EQ(out.find("*000000010120"), std::string::npos) << out;
    EXPECT_NE(out.find("0 packets"), std::string::npos) << out;

    termios after{};
    ASSERT_EQ(::tcgetattr(other, &after), 0);
    EXPECT_EQ(::cfgetispeed(&after), static_cast<speed_t>(B1200));
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    ::close(other);
}

// Ctrl-C in the middle of a long listen: the summary still comes, the line is put back, and
// the program's own handling of the signal is as it was.
TEST(DoctorListen, ASignalEndsItAsItsTimeWould) {
    PtyPair line;
    int other = ::open(line.device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios before{};
    ASSERT_EQ(::tcgetattr(other, &before), 0);
    ::cfsetispeed(&before, B1200);
    ASSERT_EQ(::tcsetattr(other, TCSANOW, &before), 0);
    // Ctrl-C, and a pipe into head that closed.
    for (int signal : {SIGINT, SIGPIPE}) {
        auto previous = std::signal(signal, SIG_IGN);
        std::thread interrupt([signal] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(::getpid(), signal);
        });

        testing::internal::CaptureStdout();
        auto started = std::chrono::steady_clock::now();
        int status = Listen(line.device(), 60, false);
        auto took = std::chrono::steady_clock::now() - started;
        std::string out = testing::internal::GetCapturedStdout();
        interrupt.join();
        EXPECT_LT(took, std::chrono::seconds(10)) << signal;
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("Stopped after"), std::string::npos) << out;
        EXPECT_NE(out.find("0 packets"), std::string::npos) << out;
        termios after{};
        ASSERT_EQ(::tcgetattr(other, &after), 0);
        EXPECT_EQ(::cfgetispeed(&after), static_cast<speed_t>(B1200)) << signal;
        EXPECT_EQ(std::signal(signal, previous), SIG_IGN) << signal;
    }
    ::close(other);
}
