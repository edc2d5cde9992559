#include <gtest/gtest.h>

#include <vector>

#include "log/event_log.h"
#include "log/log_file.h"
#include "log/log_line.h"
#include "log/log_output.h"
#include "serial/device_probe.h"
#include "support/as_user.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

namespace {

TEST(LogLine, JournalLinesCarryThePriorityAndNoTime) {
    EXPECT_EQ(FormatLine(Priority::Warning, "COM5 lost", true, 0), "<4>COM5 lost");
    EXPECT_EQ(FormatLine(Priority::Error, "a\nb\rc", true, 0), "<3>a b c");
}

TEST(LogLine, FileLinesStartWithTheLocalTimeToTheMillisecond) {
    ScopedTimeZone zone("CET-1");
    // 2026-12-08 00:00:01.007 UTC is 01:00:01.007 in Central Europe.
    EXPECT_EQ(FormatLine(Priority::Notice, "started", false, 1796688001007),
              "2026-12-08 01:00:01.007 notice: started");
}

TEST(LogLine, OnlyAStreamNamingStandardErrorItselfIsTheJournal) {
    EXPECT_TRUE(JournalStreamNames("8:12345", 8, 12345));
    EXPECT_FALSE(JournalStreamNames("8:12346", 8, 12345));
    EXPECT_FALSE(JournalStreamNames("8:12345x", 8, 12345));
    EXPECT_FALSE(JournalStreamNames("", 8, 12345));
    EXPECT_FALSE(JournalStreamNames(nullptr, 8, 12345));
}

TEST(LogLine, SpansReadAsPeopleSayThem) {
    EXPECT_EQ(Span(2850), "2.850 s");
    EXPECT_EQ(Span(-1500), "1.500 s");
    EXPECT_EQ(Span(125'000), "2 min 5 s");
    EXPECT_EQ(Span(3 * 3600'000), "3 h");
    EXPECT_EQ(Span(3 * 86400'000 + 7200'000), "3 days 2 h");
}

TEST(LogFilePlace, FollowsTheStateHome) {
#ifndef _WIN32
    ScopedEnv state("XDG_STATE_HOME", "/var/tmp/state");
    EXPECT_EQ(LogFilePath(), "/var/tmp/state/beamclock/beamclock.log");
    ScopedEnv relative("XDG_STATE_HOME", "state");
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(LogFilePath(), "/home/ann/.local/state/beamclock/beamclock.log");
#endif
}

TEST(LogFileOnDisk, RotatesAtItsLimitKeepingOneOldFile) {
    TempDir dir;
    LogFile file(dir / "beamclock" / "beamclock.log", 40);
    for (const char* line : {"first....", "second...", "third....", "fourth..."}) {
        ASSERT_TRUE(file.Append(line));  // ten bytes each: the file reaches its limit
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "beamclock" / "beamclock.log.1"));
    ASSERT_TRUE(file.Append("fifth"));
    EXPECT_EQ(ReadFile(dir / "beamclock" / "beamclock.log.1"),
              "first....\nsecond...\nthird....\nfourth...\n");
    EXPECT_EQ(ReadFile(dir / "beamclock" / "beamclock.log"), "fifth\n");
    ASSERT_TRUE(file.Append("a line that takes the file past its forty bytes"));
    EXPECT_EQ(ReadFile(dir / "beamclock" / "beamclock.log.1"), "fifth\n");
}

TEST(LogFileOnDisk, AFolderThatCannotBeMadeOnlyFailsTheWrite) {
    TempDir dir;
    WriteFile(dir / "beamclock", "a file where the folder should be");
    LogFile file(dir / "beamclock" / "beamclock.log");
    EXPECT_FALSE(file.Append("lost"));
    EXPECT_FALSE(LogFile("").Append("nowhere"));
}

#ifndef _WIN32
TEST(LogFileOnDisk, RootNeverWritesIntoAnotherUsersHome) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, as sudo -E gives it";
    }
    TempDir home;  // the user's, as sudo -E leaves XDG_STATE_HOME
    GiveToUnprivileged(home.path());
    ScopedEnv state("XDG_STATE_HOME", home.path().string());
    ScopedEnv journal("JOURNAL_STREAM", "");
    LogOutput::ForThisProcess()->Write(Priority::Info, "as root", 0);
    EXPECT_FALSE(std::filesystem::exists(home / "beamclock"));
    ASSERT_EQ(::chown(home.path().c_str(), 0, 0), 0);
    LogOutput::ForThisProcess()->Write(Priority::Info, "as root, at home", 0);
    EXPECT_TRUE(std::filesystem::exists(home / "beamclock" / "beamclock.log"));
}
#endif

// The log room with a clock the test moves and the lines it would write.
class EventLogTest : public ::testing::Test {
  protected:
    EventLogTest() : log_([this] { return now_; }) {
        log_.SetOutput([this](Priority priority, std::string_view text, std::int64_t) {
            lines_.push_back(std::to_string(static_cast<int>(priority)) + " " + std::string(text));
        });
    }
    void Pass(std::int64_t ms) { now_ += ms; }
    DeviceProbe Missing() { return {DeviceState::Missing, "", {}}; }

    std::int64_t now_ = 1'796'688'000'000;  // an even second
    std::vector<std::string> lines_;
    EventLog log_;
};

TEST_F(EventLogTest, APortGoneForAWeekIsOneLineThenOneAnHourThenOneWhenBack) {
    ScopedTimeZone zone("UTC");
    EXPECT_EQ(log_.SendingState(), "no port chosen");
    log_.PortOpened(5, "/dev/ttyUSB0");
    EXPECT_EQ(log_.SendingState(), "sending local time to COM5 (/dev/ttyUSB0)");
    Pass(3500);
    log_.PortLost(5, "/dev/ttyUSB0", PortLoss::Vanished);
    EXPECT_EQ(log_.SendingState(),
              "COM5 (/dev/ttyUSB0): no such device since 00:00:03, not sending");
    EXPECT_TRUE(log_.Failing());
    for (int retry = 0; retry < 1800 * 3 + 10; ++retry) {  // every two seconds for 3 h
        Pass(2000);
        log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason(Missing()));
    }
    Pass(100);
    log_.PortOpened(5, "/dev/ttyUSB0");
    ASSERT_EQ(lines_.size(), 6u);
    EXPECT_EQ(lines_[0], "6 COM5 opened (/dev/ttyUSB0)");
    EXPECT_EQ(lines_[1], "4 COM5 lost (/dev/ttyUSB0): the device vanished");
    EXPECT_EQ(lines_[2], "4 COM5 still missing, for 1 h");
    EXPECT_EQ(lines_[4], "4 COM5 still missing, for 3 h");
    // Lost at 3.5 s, back 3 h 20.1 s later: the even seconds from 4 s on were not sent.
    EXPECT_EQ(lines_[5], "5 COM5 back (/dev/ttyUSB0) after 3 h; 5410 even seconds not sent");
    EXPECT_FALSE(log_.Failing());
}

TEST_F(EventLogTest, ANewReasonIsSaidOnceAndAChoiceStartsAfresh) {
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason(Missing()));
    Pass(2000);
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason(Missing()));
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason({DeviceState::PermissionDenied, "", {}}));
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason({DeviceState::PermissionDenied, "", {}}));
    log_.PortClosed(5);
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason({DeviceState::HeldByAnother, "flock", {}}));
    log_.PortLost(5, "", PortLoss::HungUp);
    log_.OpenFailed(5, "", ProbeReason(Missing()));  // after a hang-up the reason is news
    EXPECT_EQ(lines_,
              (std::vector<std::string>{
                  "4 COM5 could not be opened (/dev/ttyUSB0): no such device",
                  "4 COM5 still cannot be opened (/dev/ttyUSB0): permission denied",
                  "4 COM5 could not be opened (/dev/ttyUSB0): held by another program, flock",
                  "4 COM5 lost: the line was hung up",
                  "4 COM5 still cannot be opened: no such device",
              }));
    EXPECT_EQ(log_.SendingState().rfind("COM5: no such device since ", 0), 0u);
    // Held by another program (another beamclockd, say) until now: no second is called unsent.
    lines_.clear();
    log_.PortClosed(5);
    log_.OpenFailed(5, "/dev/ttyUSB0", ProbeReason({DeviceState::HeldByAnother, "flock", {}}));
    Pass(6000);
    log_.PortOpened(5, "/dev/ttyUSB0");
    EXPECT_EQ(lines_.back(), "5 COM5 opened (/dev/ttyUSB0) after 6.000 s held by another program");
}

TEST_F(EventLogTest, ChoicesAndTheEndAreSaidWhenTheyChangeSomething) {
    log_.Started("1.0.2", "/opt/Skyfix.ini", "beside the program", "+COM5", false);
    log_.PortChosen(" COM6");
    log_.PortChosen("None");
    log_.NotRead("/opt/Skyfix.ini", "permission denied");
    log_.TimeChosen(false);
    log_.TimeChosen(true);
    log_.ClockSet(-3250);
    log_.NotSaved("COMPORT", "+COM5", "/home/ann/.config/beamclock/Skyfix.ini");
    log_.NotSaved("TimeUTC", "True", "");  // no file this user may write
    log_.Ended("Close and Exit");
    log_.Ended("the window was closed");
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "5 Beamclock 1.0.2 started; settings /opt/Skyfix.ini, beside the "
                          "program; port COM5, LOCAL time",
                          "5 port chosen: COM6",
                          "5 port chosen: None",
                          "4 could not read /opt/Skyfix.ini: permission denied; its settings are "
                          "not used",
                          "5 time chosen: UTC",
                          "5 the clock was set back by 3.250 s",
                          "3 could not save COMPORT=+COM5 in /home/ann/.config/beamclock/"
                          "Skyfix.ini; it holds until the program ends",
                          "3 could not save TimeUTC=True: there is no settings file this user "
                          "may write; it holds until the program ends",
                          "5 ended: Close and Exit",
                      }));
}

}  // namespace
