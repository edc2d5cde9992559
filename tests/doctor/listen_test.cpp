#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <regex>
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

// A wrong device, or the right one at another speed, floods the line: what it sends is one
// run a second, a "*" in it included, and a packet or a pause ends the run; a malformed packet
// on a quiet line, or after a few stray bytes, is still told as malformed.
TEST(DoctorListen, BytesThatAreNotPacketsMakeARunASecond) {
    ScopedTimeZone utc("UTC0");
    const double start = static_cast<double>(UtcInstant(2026, 12, 6, 19, 5, 0)) + 0.3;
    std::string junk;
    for (int i = 0; i < 4096; ++i) {
        junk += static_cast<char>(i % 256);  // "*" and ESC among them
    }
    PacketStream stream;
    std::vector<PacketStream::Event> events;
    auto feed = [&](const std::string& bytes, double at) {
        for (auto& event : stream.Feed(bytes, at)) {
            events.push_back(event);
        }
    };
    for (int i = 0; i < 250; ++i) {  // 2.5 s of it
        feed(junk, start + i * 0.01);
    }
    ASSERT_EQ(events.size(), 2u);
    feed("*020519061220260000000001000000000#", start + 2.505);
    feed("\r\n*04051906122026000000000100000000X#", start + 4.001);  // malformed
    feed("*06051906122026000000000100000000X#", start + 6.001);      // malformed again
    feed("\x1b[2J", start + 7.0);
    for (auto& event : stream.Finish()) {
        events.push_back(event);
    }

    ASSERT_EQ(events.size(), 8u);
    std::size_t flooded = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(events[i].isPacket) << i;
        EXPECT_EQ(events[i].bytes.size(), PacketStream::kShownBytes) << i;
        EXPECT_NEAR(events[i].arrival, start + i, 0.015) << i;
        flooded += events[i].length;
    }
    EXPECT_EQ(flooded, 250u * junk.size());
    EXPECT_TRUE(events[3].isPacket && events[3].error.empty());
    EXPECT_EQ(events[4].bytes, "\r\n");
    EXPECT_NE(events[5].error, "");
    EXPECT_NE(events[6].error, "");
    EXPECT_EQ(events[7].bytes, "\x1b[2J");

    ListenSummary summary = Summarise(events, start, start + 7.5);
    EXPECT_EQ(summary.packets, 1);
    EXPECT_EQ(summary.malformed, 2);
    EXPECT_EQ(summary.notPackets, 5);
}

// A device that repeats packets as fast as it can: --json lists the last of them, says how
// many it left out, and counts them all.
TEST(DoctorListen, AFloodOfPacketsListsOnlyTheLastOnes) {
    PtyPair line;
    std::atomic<bool> done{false};
    std::thread flood([&] {
        std::string packets;
        for (int i = 0; i < 100; ++i) {
            packets += "*000000010120000000000001000000000#";
        }
        for (std::size_t at = 0; !done; at %= packets.size()) {
            ssize_t wrote = ::write(line.master(), packets.data() + at, packets.size() - at);
            if (wrote > 0) {
                at += static_cast<std::size_t>(wrote);  // never a packet torn
            } else {
                pollfd room{line.master(), POLLOUT, 0};
                ::poll(&room, 1, 10);
            }
        }
    });
    testing::internal::CaptureStdout();
    int status = Listen(line.device(), 0.5, true);
    std::string out = testing::internal::GetCapturedStdout();
    done = true;
    flood.join();

    EXPECT_EQ(status, 1);
    std::size_t listed = 0;  // the events, the note of those left out, the summary, the lateness
    for (std::size_t at = out.find("{\"section\": \"listen\""); at != std::string::npos;
         at = out.find("{\"section\": \"listen\"", at + 1)) {
        ++listed;
    }
    EXPECT_EQ(listed, kListedEvents + 3) << out.substr(0, 2000);
    std::smatch leftOut;
    ASSERT_TRUE(std::regex_search(out, leftOut, std::regex(R"re("text": "(\d+) not listed)re")))
        << out.substr(0, 2000);
    // The open and the end may each cut a packet in two: a run of bytes that is not one.
    std::smatch counted;
    ASSERT_TRUE(std::regex_search(
        out, counted, std::regex(R"((\d+) packets \(.*, (\d+) runs of bytes that are not)")));
    EXPECT_EQ(std::stoul(leftOut[1]) + kListedEvents,
              std::stoul(counted[1]) + std::stoul(counted[2]));
    EXPECT_LE(std::stoul(counted[2]), 2u);
}
