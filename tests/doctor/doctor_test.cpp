#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include "doctor/account.h"
#include "doctor/advice.h"
#include "doctor/clock_check.h"
#include "doctor/listen.h"
#include "doctor/ports_check.h"
#include "doctor/report.h"
#include "doctor/service_check.h"
#include "doctor/settings_check.h"
#include "serial/device_probe.h"
#include "support/as_user.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

namespace {

std::string Texts(const Report& report, const std::string& section) {
    std::string all;
    for (const Finding& finding : report.findings()) {
        if (finding.section == section) {
            all += finding.subject + ": " + finding.text + "\n";
        }
    }
    return all;
}

SettingsVerdict Chosen(int port, const std::string& device) {
    SettingsVerdict settings;
    settings.port = port;
    settings.names.Override(port, device);
    return settings;
}

}  // namespace

TEST(DoctorProbe, EachReasonAPortCannotBeHadIsTold) {
    TempDir dir;
    WriteFile(dir / "plain", "");
    EXPECT_EQ(ProbeDevice((dir / "missing").string()).state, DeviceState::Missing);
    EXPECT_EQ(ProbeDevice((dir / "plain").string()).state, DeviceState::NotATerminal);
    EXPECT_EQ(ProbeDevice(dir.path().string()).state, DeviceState::NotATerminal);

    PtyPair line;
    EXPECT_EQ(ProbeDevice(line.device()).state, DeviceState::Free);
    {
        int holder = ::open(line.device().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        DeviceProbe probe = ProbeDevice(line.device());
        EXPECT_EQ(probe.state, DeviceState::HeldByAnother);
        EXPECT_EQ(probe.how, "flock");
        ::close(holder);
    }
    {
        int holder = ::open(line.device().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
        EXPECT_EQ(ProbeDevice(line.device()).how, "exclusive open");
        ::ioctl(holder, TIOCNXCL);
        ::close(holder);
    }
    EXPECT_EQ(ProbeDevice(line.device()).state, DeviceState::Free);  // nothing left behind

    // A serial device as Debian makes it: the group dialout may open it, nobody else.
    group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(line.device().c_str(), 0, dialout->gr_gid), 0);
    ::chmod(line.device().c_str(), 0660);
    ::chmod(dir.path().c_str(), 0755);
    WriteFile(dir / "Skyfix.ini", "[Ports]\nCOM1=" + line.device() + "\n");
    AsUnprivileged([&] {
        EXPECT_EQ(ProbeDevice(line.device()).state, DeviceState::PermissionDenied);
        Report report;
        ProcessTable processes;
        CheckPorts(Chosen(1, line.device()), ReportedAccount(), processes, report);
        EXPECT_TRUE(report.HasProblem());
        EXPECT_NE(Texts(report, "ports")
                      .find("permission denied (mode 0660, owner root, group dialout): the "
                            "device belongs to group \"dialout\", which you are not in; fix: "
                            "sudo usermod -aG dialout "),
                  std::string::npos)
            << Texts(report, "ports");
    });
}

TEST(DoctorPorts, TheChosenPortDecidesAndAHolderIsNamed) {
    TempDir dir;
    PtyPair line;
    SettingsVerdict settings = Chosen(3, line.device());
    settings.names.Override(4, (dir / "gone").string());
    ProcessTable before;
    Report free;
    CheckPorts(settings, ReportedAccount(), before, free);
    EXPECT_FALSE(free.HasProblem()) << free.AsText();
    EXPECT_NE(Texts(free, "ports").find("COM3 (chosen): " + line.device() + ": available"),
              std::string::npos);
    EXPECT_NE(Texts(free, "ports").find("([Ports] maps the port to this path)"), std::string::npos);

    int holder = ::open(line.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ProcessTable now;
    Report held;
    CheckPorts(settings, ReportedAccount(), now, held);
    EXPECT_TRUE(held.HasProblem());
    EXPECT_NE(Texts(held, "ports")
                  .find("held by another program: core_tests (pid " + std::to_string(::getpid())),
              std::string::npos)
        << Texts(held, "ports");
    ::close(holder);
}

TEST(DoctorSettings, WhatTheProgramMakesOfHandEditedFiles) {
    TempDir dir;
    struct Case {
        const char* file;
        bool problem;
        const char* expected;  // in the settings findings
    };
    const Case cases[] = {
        {"", true, "\"None\": no port is chosen"},
        {"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=True\nTIMELOCAL=True\n", false,
         "the start opens COM5"},
        {"[SerialSync]\nCOMPORT=\n", false, "\"\": the start opens COM1"},
        {"[SerialSync]\nCOMPORT= COM7\n", false, "\"COM7\": the start opens COM7"},
        {"[SerialSync]\nCOMPORT=+com5\n", true, "names no port (did you mean \"+COM5\"?)"},
        {"[SerialSync]\nCOMPORT=+COM17\n", true, "\"+COM17\" names no port"},
        {"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=yes\n", false,
         "\"TIMEUTC=yes\" is not read as true or false"},
        {"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=2\n", false, "\"TIMEUTC=2\" is read as True"},
        {"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=True\n", false, "UTC is sent"},
        {"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=False\nTIMELOCAL=False\n", false,
         "neither UTC nor LOCAL is selected"},
        {"[serialsync]\nCOMPORT=+COM5\ncomport=+COM6\n[SerialSync]\nCOMPORT=None\n", false,
         "[serialsync]: appears 2 times"},
        {"[serialsync]\nCOMPORT=+COM5\ncomport=+COM6\n", false,
         "COMPORT: appears more than once in [SerialSync]; the first counts"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir / "Skyfix.ini");
        if (*c.file) {
            WriteFile(dir / "Skyfix.ini", c.file);
        }
        Report report;
        CheckSettings(dir.path(), report);
        std::string texts = Texts(report, "settings");
        EXPECT_EQ(report.HasProblem(), c.problem) << c.file << texts;
        EXPECT_NE(texts.find(c.expected), std::string::npos) << c.file << "\n" << texts;
        EXPECT_EQ(*c.file ? ReadFile(dir / "Skyfix.ini") : "", c.file);  // never written
    }
}

TEST(DoctorClock, TheNextDaylightSavingChangeToTheSecond) {
    ScopedTimeZone newYork("EST5EDT,M3.2.0,M11.1.0");
    std::int64_t change = NextOffsetChange(UtcInstant(2026, 12, 7, 12, 0, 0));
    EXPECT_EQ(change, UtcInstant(2027, 3, 14, 7, 0, 0));  // 02:00 EST becomes 03:00 EDT
    EXPECT_EQ(OffsetText(change - 1), "UTC-05:00 (EST)");
    EXPECT_EQ(OffsetText(change), "UTC-04:00 (EDT)");
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(NextOffsetChange(UtcInstant(2026, 12, 7, 12, 0, 0)), 0);
}

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

TEST(DoctorReport, JsonCarriesTheSameFindingsAsUtf8) {
    Report report;
    report.Add("settings", "COMPORT", Level::Problem, "\"+com5\" names no port\n\x01");
    EXPECT_EQ(report.AsJson().substr(0, 33), "{\"version\": \"1.0.2\", \"ok\": false,");
    EXPECT_NE(report.AsJson().find(R"("text": "\"+com5\" names no port\n\u0001")"),
              std::string::npos);
    // UTF-8 passes as it is; a byte that is no UTF-8 (Latin-1, a cut or overlong sequence, a
    // surrogate) is escaped, so the JSON stays valid.
    EXPECT_EQ(JsonString("/srv/\xc3\x9c"
                         "bersicht \xe2\x82\xac \xf0\x9f\x95\x90 a\\b"),
              "\"/srv/\xc3\x9c"
              "bersicht \xe2\x82\xac \xf0\x9f\x95\x90 a\\\\b\"");
    EXPECT_EQ(JsonString("\xdc \xc3 \xc0\xaf \xed\xa0\x80 \x7f\t"),
              "\"\\u00dc \\u00c3 \\u00c0\\u00af \\u00ed\\u00a0\\u0080 \\u007f\\u0009\"");
}

TEST(DoctorAdvice, AGroupIsAdvisedOnlyWhereJoiningItOpensTheDeviceAndGivesNoMore) {
    UserFacts ann{"ann", 1000, {1000}, {1000}, true};
    struct Case {
        DeviceFacts device;
        const char* expected;
    };
    const Case cases[] = {
        {{020600, 0, 0, "root", "root"},
         "only root (the owner) may open it; an administrator must change the device's "
         "permissions (a udev rule)"},
        {{020660, 0, 0, "root", "root"}, "root (the owner) and the members of group root may"},
        {{020660, 0, 6, "root", "disk"}, "an administrator must change"},
        {{020660, 0, 27, "root", "sudo"}, "an administrator must change"},
        {{020640, 0, 20, "root", "dialout"}, "only root (the owner) may open it"},
        {{020000, 0, 20, "root", "dialout"}, "nobody may open it"},
        {{020660, 0, 20, "root", "dialout"},
         "which you are not in; fix: sudo usermod -aG dialout "
         "ann, then log out and in"},
    };
    for (const Case& c : cases) {
        std::string advice = PermissionAdvice(c.device, ann);
        EXPECT_NE(advice.find(c.expected), std::string::npos) << advice;
        EXPECT_EQ(advice.find("usermod") != std::string::npos,
                  c.device.groupName == "dialout" && c.device.mode == 020660)
            << advice;
    }
    UserFacts bob{"bob", 1001, {1001}, {1001, 20}, false};  // reported for, under sudo
    EXPECT_NE(PermissionAdvice({020660, 0, 20, "root", "dialout"}, bob)
                  .find("bob was added to it but this session started before"),
              std::string::npos);
    EXPECT_TRUE(IsPrivilegedGroup(0, "anything"));
    EXPECT_TRUE(IsPrivilegedGroup(4, "adm"));
    EXPECT_FALSE(IsPrivilegedGroup(20, "dialout"));
    // The kernel looks at one class: an owner shut out stays out whatever the others may.
    EXPECT_FALSE(MayReadWrite({020066, 1000, 20, "ann", "dialout"}, 1000, {20}));
    EXPECT_TRUE(MayReadWrite({020660, 0, 20, "root", "dialout"}, 1000, {1000, 20}));
}

TEST(DoctorRunning, NothingForThisUserIsSaidAndOtherCopiesAreNotes) {
    Account stranger;
    stranger.uid = 54321;  // no process runs as this id
    ProcessTable processes;
    Report report;
    CheckRunning(SettingsVerdict{}, stranger, processes, report);
    std::string texts = Texts(report, "running");
    EXPECT_NE(texts.find("beamclock: nothing runs for this user"), std::string::npos) << texts;
    for (const Finding& finding : report.findings()) {
        EXPECT_EQ(finding.level, Level::Note) << finding.text;
    }
}

// The service's box in a temporary root: its settings file, its unit, the device as group
// dialout sees it, and a service holding it, found as a user who may not read its /proc fds.
TEST(DoctorService, TheBoxAsTheServiceSeesIt) {
    TempDir root;
    PtyPair line;
    group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(line.device().c_str(), 0, dialout->gr_gid), 0);
    ::chmod(line.device().c_str(), 0660);
    std::filesystem::path file = root / "etc/beamclock/Skyfix.ini";
    std::filesystem::create_directories(root / "lib/systemd/system");
    std::filesystem::create_directories(root / "etc/beamclock");
    WriteFile(root / "lib/systemd/system" / kServiceUnit, "[Service]\n");
    WriteFile(file, "[SerialSync]\nCOMPORT=+COM5\n[Ports]\nCOM5=" + line.device() + "\n");
    for (auto folder : {root.path(), root / "etc", root / "etc/beamclock"}) {
        ::chmod(folder.c_str(), 0755);
    }
    auto check = [&] {
        ProcessTable processes;
        Report report;
        CheckService(root.path(), processes, report);
        return report;
    };
    auto texts = [](const Report& report) {
        return Texts(report, "service") + Texts(report, "settings") + Texts(report, "port");
    };

    ::chmod(file.c_str(), 0600);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    ::chmod(file.c_str(), 0644);

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t service = ::fork();
    if (service == 0) {
        ::prctl(PR_SET_NAME, "beamclockd");
        int held = ::open(line.device().c_str(), O_RDWR | O_NOCTTY);
        ::flock(held, LOCK_EX | LOCK_NB);
        [[maybe_unused]] auto wrote = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    AsUnprivileged([&] {
        Report report = check();
        std::string all = texts(report);
        EXPECT_NE(all.find("installed, disabled, running; not enabled"), std::string::npos) << all;
        EXPECT_NE(all.find("\"+COM5\": the start opens COM5"), std::string::npos) << all;
        EXPECT_NE(all.find(line.device() + ": the group dialout may open it"), std::string::npos)
            << all;
        EXPECT_NE(all.find(line.device() + ": held by Beamclock (the service): beamclockd (pid " +
                           std::to_string(service)),
                  std::string::npos)
            << all;
        EXPECT_FALSE(report.HasProblem()) << all;
    });
    ::kill(service, SIGKILL);
    ::waitpid(service, nullptr, 0);

    std::filesystem::remove(file);
    EXPECT_NE(texts(check()).find("Skyfix.ini is missing"), std::string::npos);
}

// sudo beamclock-doctor: root, with SUDO_USER naming the user who ran it.
TEST(DoctorAccount, UnderSudoTheReportIsForTheUserWhoRanIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, as sudo gives it";
    }
    TempDir program;  // root's, which the user may not write: the per-user rule applies
    ::chmod(program.path().c_str(), 0755);
    passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    std::string perUser = std::string(nobody->pw_dir) + "/.config/beamclock/Skyfix.ini";
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("SUDO_USER", "nobody", 1);
        Account account = ReportedAccount();
        Report report;
        DescribeAccount(account, report);
        {
            ActingAs as(account);
            EXPECT_TRUE(as.Switched());
            EXPECT_EQ(::geteuid(), nobody->pw_uid);
            CheckSettings(program.path(), report);
        }
        EXPECT_EQ(::geteuid(), 0u);  // root again afterwards
        std::string all = Texts(report, "user") + Texts(report, "settings");
        EXPECT_NE(all.find("reporting for nobody, who ran sudo: their settings file, in groups " +
                           GroupNames({nobody->pw_gid})),
                  std::string::npos)
            << all;
        EXPECT_NE(all.find("changes: are written to " + perUser), std::string::npos) << all;
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    ::unsetenv("SUDO_USER");
    Report asRoot;
    DescribeAccount(ReportedAccount(), asRoot);
    EXPECT_NE(Texts(asRoot, "user").find("root passes every permission check"), std::string::npos);
}
