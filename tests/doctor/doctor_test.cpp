#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <functional>

#include "clock/time_reference.h"
#include "doctor/account.h"
#include "doctor/clock_check.h"
#include "doctor/journal.h"
#include "doctor/ports_check.h"
#include "doctor/recent_events.h"
#include "doctor/report.h"
#include "doctor/run_for_output.h"
#include "doctor/service_check.h"
#include "doctor/settings_check.h"
#include "serial/device_access.h"
#include "serial/device_probe.h"
#include "serial/port_selection.h"
#include "support/as_user.h"
#include "support/foreign_lock_file.h"
#include "support/pty_pair.h"
#include "support/recording_port.h"
#include "support/scoped_env.h"
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
        // The same refusal of a port nobody chose stops nothing, and is no "ok" either.
        SettingsVerdict other = Chosen(2, (dir / "missing").string());
        other.names.Override(1, line.device());
        Report notChosen;
        CheckPorts(other, ReportedAccount(), processes, notChosen);
        EXPECT_EQ(notChosen.findings().front().level, Level::Info) << notChosen.AsText();
        EXPECT_NE(
            Texts(notChosen, "ports")
                .find("no such device ([Ports] maps the port to this path): plug the emitter in"),
            std::string::npos);
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

    // The devices there, by the links udev makes; a ttyS without a UART is none.
    std::filesystem::create_directories(dir / "dev/serial/by-id");
    std::filesystem::create_directories(dir / "sys/class/tty/ttyS1");
    std::filesystem::create_symlink(line.device(), dir / "dev/ttyUSB0");
    std::filesystem::create_symlink("../../ttyUSB0", dir / "dev/serial/by-id/usb-Emitter-if00");
    WriteFile(dir / "dev/ttyS1", "");
    WriteFile(dir / "sys/class/tty/ttyS1/type", "0\n");
    std::vector<SerialDevice> present = PresentSerialDevices(dir.path());
    Report devices;
    CheckSerialDevices(present, settings, devices);
    EXPECT_EQ(Texts(devices, "serial devices"),
              (dir / "dev/ttyUSB0").string() + " (chosen): " +
                  (dir / "dev/serial/by-id/usb-Emitter-if00").string() + "; COM3 in [Ports]\n");
    EXPECT_NE(MissingDeviceAdvice(present, settings.names).find("(usb-Emitter-if00, COM3 in"),
              std::string::npos);

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

// A lock file for the device keeps nothing from the open: the probe finds the device free and
// names the file, whose it is and what it names; a failed open's reason names it too. A fifo in
// its place stalls nothing.
TEST(DoctorProbe, ALockFileIsOnlyNamed) {
    PtyPair line;
    ForeignLockFile lock(line.device());
    TempDir dir;
    std::filesystem::create_symlink(line.device(), dir / "emitter");  // as by-id names it
    WriteFile(lock.path, "         1\n");
    DeviceProbe probe = ProbeDevice((dir / "emitter").string());
    EXPECT_EQ(probe.state, DeviceState::Free);
    const std::string owner =
        "a lock file of user " + std::string(::getpwuid(::geteuid())->pw_name);
    EXPECT_EQ(probe.lockFile.find(owner + ", " + lock.path.string() + ", names "), 0u);
    EXPECT_TRUE(probe.lockFile.ends_with(" (pid 1), which runs")) << probe.lockFile;

    int holder = ::open(line.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    WriteFile(lock.path, std::to_string(EndedProcess()) + "\n");
    EXPECT_EQ(ProbeReason(ProbeDevice(line.device())),
              "held by another program, flock; " + owner +
                  " names a process that does not exist; `sudo rm " + lock.path.string() +
                  "` removes it");
    ::close(holder);

    std::filesystem::remove(lock.path);
    ASSERT_EQ(::mkfifo(lock.path.c_str(), 0666), 0);
    ::chmod(lock.path.c_str(), 0666);  // an open for reading would wait for a writer
    AsUnprivileged([&] {
        ::alarm(5);
        EXPECT_EQ(ProbeDevice(line.device()).lockFile, "");
    });
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
    std::filesystem::remove(dir / "Skyfix.ini");
    std::filesystem::create_directory(dir / "Skyfix.ini");
    Report report;
    CheckSettings(dir.path(), report);
    std::string texts = Texts(report, "settings");
    EXPECT_NE(texts.find("cannot be read (it is not a plain file)"), std::string::npos) << texts;
    EXPECT_NE(texts.find("changes: are not kept while"), std::string::npos) << texts;

    // Files saved as Notepad's "Unicode" and as UTF-16 big-endian: the encoding is named.
    std::filesystem::remove(dir / "Skyfix.ini");
    auto utf16 = [](std::string_view mark, std::string_view text, bool bigEndian) {
        std::string bytes(mark);
        for (char c : text) {
            bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        }
        return bytes;
    };
    const std::string_view ini = "[SerialSync]\r\nCOMPORT=+COM5\r\n";
    WriteFile(dir / "Skyfix.ini", utf16("\xff\xfe", ini, false));
    Report little;
    CheckSettings(dir.path(), little);
    texts = Texts(little, "settings");
    EXPECT_NE(texts.find("UTF-16 LE"), std::string::npos) << texts;
    EXPECT_NE(texts.find("the start opens COM5"), std::string::npos) << texts;
    WriteFile(dir / "Skyfix.ini", utf16("\xfe\xff", ini, true));
    Report big;
    CheckSettings(dir.path(), big);
    EXPECT_NE(Texts(big, "settings").find("UTF-16BE"), std::string::npos) << Texts(big, "settings");
}

// The doctor says what the program's own restore makes of a file: the first [Ports] key counts
// even when empty, and a true TimeUTC alone means UTC for the service, which saves nothing, as
// for the window, whose saved click makes TimeLocal False.
TEST(DoctorSettings, TheProgramsOwnRulesDecideForTheWindowAndTheService) {
    TempDir dir;
    std::filesystem::path file = dir / "Skyfix.ini";
    WriteFile(file, "[SerialSync]\nCOMPORT=\nTIMEUTC=True\n[Ports]\nCOM1=\ncom1=/dev/elsewhere\n");

    Report service;
    SettingsVerdict verdict = CheckSettingsFile(file, service);
    RecordingPort port;
    std::optional<bool> utcMode;
    TimeReference reference(utcMode, file);
    reference.savesChoice = false;
    reference.Restore();
    EXPECT_EQ(RestoreSavedPort(port, file), "COM1");
    EXPECT_EQ(verdict.port, port.commPort);
    EXPECT_EQ(verdict.ChosenDevice(), PortNames::FromSettings(file).DeviceFor(1));
    EXPECT_EQ(verdict.ChosenDevice(), DefaultDeviceForPort(1));
    EXPECT_EQ(utcMode, true);
    EXPECT_NE(Texts(service, "settings").find("time: UTC is sent"), std::string::npos)
        << Texts(service, "settings");

    Report window;
    verdict = CheckSettings(dir.path(), window);
    EXPECT_EQ(verdict.ChosenDevice(), DefaultDeviceForPort(1));
    EXPECT_NE(Texts(window, "settings").find("time: UTC is sent"), std::string::npos)
        << Texts(window, "settings");
    EXPECT_EQ(ReadFile(file).find("TIMELOCAL"), std::string::npos);  // the doctor saved nothing
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

// Values the doctor read and did not write: escape codes in them reach the terminal as text.
TEST(DoctorReport, TheTextShowsControlCharactersEscaped) {
    Report report;
    report.Add("settings", "COMPORT", Level::Problem,
               "\"\x1b[2J\x1b]0;owned\x07+COM3\" names no port");
    report.Add("running",
               "beamclock\x9b"
               "2J",
               Level::Note,
               "runs from /srv/\xc3\x9c"
               "bersicht\tand \xc2\x9b"
               "1m");
    report.SetEvents({"2026-12-08 01:00:00 sent\r\x1b[1A\x7f"});
    std::string text = report.AsText();
    EXPECT_NE(text.find("COMPORT: \"\\x1b[2J\\x1b]0;owned\\x07+COM3\" names no port\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("beamclock\\x9b2J: runs from /srv/\xc3\x9c"
                        "bersicht\\x09and \\xc2\\x9b1m\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("    2026-12-08 01:00:00 sent\\x0d\\x1b[1A\\x7f\n"), std::string::npos)
        << text;
    for (unsigned char c : text) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f && c != 0x9b)) << int(c);
    }
    // JSON, which passes UTF-8 as it is, escapes the C1 controls too.
    EXPECT_NE(report.AsJson().find("bersicht\\u0009and \\u009b1m"), std::string::npos);
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
    // A copy whose program was deleted under it, as an upgrade that could not stop it leaves one.
    TempDir dir;
    std::filesystem::path program = dir / "beamclock";
    std::filesystem::copy_file("/bin/sleep", program);
    pid_t left = ::fork();
    if (left == 0) {
        ::execl(program.c_str(), "beamclock", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && ReadFile("/proc/" + std::to_string(left) + "/comm") != "beamclock\n";
         ++i) {
        ::usleep(10'000);
    }
    std::filesystem::remove(program);
    Account stranger;
    stranger.uid = 54321;  // no process runs as this id
    ProcessTable processes;
    Report report;
    CheckRunning(SettingsVerdict{}, stranger, processes, report);
    ::kill(left, SIGKILL);
    ::waitpid(left, nullptr, 0);
    ASSERT_NE(processes.Find(left), nullptr);
    std::string texts = Texts(report, "running");
    EXPECT_NE(texts.find("beamclock: nothing runs for this user"), std::string::npos) << texts;
    EXPECT_NE(texts.find("pid " + std::to_string(left) + ", user " + processes.Find(left)->user +
                         ", running from a deleted file) runs for another user; `"),
              std::string::npos)
        << texts;
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
    // This machine's clock need not be synchronised, which the service would wait for.
    WriteFile(file, "[SerialSync]\nCOMPORT=+COM5\n[Ports]\nCOM5=" + line.device() +
                        "\n[Service]\nSendUnsynchronised=True\n");
    for (auto folder : {root.path(), root / "etc", root / "etc/beamclock"}) {
        ::chmod(folder.c_str(), 0755);
    }
    auto check = [&] {
        ProcessTable processes;
        Report report;
        CheckService(root.path(), ServiceInstance{}, processes, report);
        return report;
    };
    auto texts = [](const Report& report) {
        return Texts(report, "service") + Texts(report, "settings") + Texts(report, "port");
    };

    ::chmod(file.c_str(), 0600);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    passwd* nobody = ::getpwnam("nobody");  // the service is neither nobody nor in its group
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(::chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    ::chmod(file.c_str(), 0640);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    ASSERT_EQ(::chown(file.c_str(), 65533, 0), 0);  // an owner of no account, from a tarball
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
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
        EXPECT_NE(all.find("installed, disabled, running; it runs, but does not start at boot"),
                  std::string::npos)
            << all;
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

    // systemctl show gives each DeviceAllow= entry a line; the rule holds for the whole major.
    UnitState shown = UnitFromSystemctl(
        "LoadState=loaded\nDeviceAllow=char-ttyS rw\nDeviceAllow=char-pts rw\nDeviceAllow=\n");
    EXPECT_EQ(shown.deviceAllow, (std::vector<std::string>{"char-ttyS rw", "char-pts rw"}));
    EXPECT_TRUE(DeviceAllowCovers(shown.deviceAllow, line.device()));
    EXPECT_TRUE(DeviceAllowCovers({"char-p?s", line.device() + " r"}, line.device()));
    EXPECT_FALSE(
        DeviceAllowCovers({"char-ttyS rw", "char-pts r", line.device() + " w"}, line.device()));
    EXPECT_TRUE(DeviceAllowCovers({"char-/dev/console rw"}, "/dev/ptmx"));  // 5: also /dev/tty

    std::filesystem::remove(file);
    EXPECT_NE(texts(check()).find("Skyfix.ini is missing"), std::string::npos);
    std::filesystem::create_symlink("Skyfix.ini", file);  // a loop is there, not missing
    std::string loop = texts(check());
    EXPECT_EQ(loop.find("missing"), std::string::npos) << loop;
    EXPECT_NE(loop.find("cannot be read (too many levels of symbolic links)"), std::string::npos)
        << loop;
    std::filesystem::remove(file);  // a link into a folder only root may search
    std::filesystem::create_directories(root / "etc/private");
    ::chmod((root / "etc/private").c_str(), 0700);
    WriteFile(root / "etc/private/Skyfix.ini", "[SerialSync]\nCOMPORT=+COM5\n");
    ::chmod((root / "etc/private/Skyfix.ini").c_str(), 0644);
    std::filesystem::create_symlink(root / "etc/private/Skyfix.ini", file);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    std::filesystem::create_directories(root / "etc/open");  // a chain through that folder
    ::chmod((root / "etc/open").c_str(), 0755);
    std::filesystem::rename(root / "etc/private/Skyfix.ini", root / "etc/open/Skyfix.ini");
    std::filesystem::create_symlink(root / "etc/open/Skyfix.ini", root / "etc/private/hop.ini");
    std::filesystem::remove(file);
    std::filesystem::create_symlink(root / "etc/private/hop.ini", file);
    EXPECT_NE(texts(check()).find("cannot be read by the service"), std::string::npos);
    std::filesystem::remove(file);
    std::filesystem::create_symlink(root / "etc/open/Skyfix.ini", file);
    EXPECT_NE(texts(check()).find("which the service reads"), std::string::npos);
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

// What systemctl and journalctl are asked through: their output and how they ended.
TEST(DoctorCommands, WhatACommandPrintedAndHowItEnded) {
    CommandOutput done = RunForOutput("printf 'LoadState=loaded\\n'; echo hidden >&2; exit 3");
    EXPECT_EQ(done.text, "LoadState=loaded\n");
    EXPECT_EQ(done.exitStatus, 3);
    EXPECT_EQ(RunForOutput("kill -KILL $$").exitStatus, 128);
    EXPECT_EQ(RunForOutput("exec /nonexistent/journalctl 2>/dev/null").exitStatus, 127);
}

TEST(DoctorEvents, TheLastTenLinesOfTheLogOrTheJournal) {
    TempDir state;
    ScopedEnv home("XDG_STATE_HOME", state.path().string());
    std::filesystem::create_directories(state / "beamclock");
    std::string log;
    for (int i = 1; i <= 12; ++i) {
        log += "2026-12-08 01:00:0" + std::to_string(i % 10) + " line " + std::to_string(i) + "\n";
    }
    WriteFile(state / "beamclock/beamclock.log", log);
    Report report;
    AddDesktopEvents(report);
    ASSERT_EQ(report.events().size(), 10u);
    EXPECT_EQ(report.events().front().substr(20), "line 3");
    EXPECT_EQ(report.events().back().substr(20), "line 12");
    EXPECT_NE(report.AsJson().find("\"recent_events\": [\n  \"2026-12-08 01:00:03 line 3\","),
              std::string::npos);

    // A log grown long is read from its last 64 KiB, from the first whole line in them.
    log.clear();
    for (int i = 1; i <= 3000; ++i) {
        log += "2026-12-08 01:00:00 line " + std::to_string(i) + " of a long log\r\n";
    }
    ASSERT_GT(log.size(), kLogTailBytes);
    WriteFile(state / "beamclock/beamclock.log", log);
    Report longLog;
    AddDesktopEvents(longLog);
    ASSERT_EQ(longLog.events().size(), 10u);
    EXPECT_EQ(longLog.events().front(), "2026-12-08 01:00:00 line 2991 of a long log");
    EXPECT_EQ(longLog.events().back(), "2026-12-08 01:00:00 line 3000 of a long log");
    // ... one whose last 64 KiB hold no whole line is no empty log, nor one line ...
    for (const std::string& end :
         {std::string(kLogTailBytes, 'x') + "\n", std::string(kLogTailBytes + 9, 'x')}) {
        WriteFile(state / "beamclock/beamclock.log", log + end);
        Report noLine;
        AddDesktopEvents(noLine);
        EXPECT_TRUE(noLine.events().empty());
        EXPECT_NE(noLine.findings()[0].text.find("hold no whole line"), std::string::npos);
    }
    // ... and one line of exactly 64 KiB is shown whole.
    WriteFile(state / "beamclock/beamclock.log", log + std::string(kLogTailBytes - 1, 'y') + "\n");
    Report exact;
    AddDesktopEvents(exact);
    ASSERT_EQ(exact.events().size(), 1u);
    EXPECT_EQ(exact.events()[0].size(), kLogTailBytes - 1);

    // Not a file at all: a fifo nobody writes, a link to a device that never ends, a
    // directory. One line says so, and nothing is read.
    std::filesystem::path logPath = state / "beamclock/beamclock.log";
    std::vector<std::pair<std::function<void()>, std::string>> notLogs = {
        {[&] { ASSERT_EQ(::mkfifo(logPath.c_str(), 0600), 0); }, "a fifo"},
        {[&] { std::filesystem::create_symlink("/dev/zero", logPath); }, "a device"},
        {[&] { std::filesystem::create_directory(logPath); }, "a directory"},
    };
    for (const auto& [make, kind] : notLogs) {
        std::filesystem::remove_all(logPath);
        make();
        Report notLog;
        AddDesktopEvents(notLog);
        ASSERT_EQ(notLog.findings().size(), 1u) << kind;
        EXPECT_EQ(notLog.findings()[0].text, logPath.string() + " is not a log: it is " + kind);
        EXPECT_EQ(notLog.findings()[0].level, Level::Note);
        EXPECT_TRUE(notLog.events().empty()) << kind;
    }

    EXPECT_TRUE(MakeSenseOfJournal("-- No entries --\n", 0, true).lines.empty());
    JournalReading shut = MakeSenseOfJournal("-- No entries --\n", 0, false);
    EXPECT_FALSE(shut.readable);
    EXPECT_NE(shut.why.find("cannot be read by this user"), std::string::npos);
    EXPECT_FALSE(MakeSenseOfJournal("", 1, true).readable);
}
