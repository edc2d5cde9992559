// The doctor's rules for what Windows says, tried with answers recorded from Windows: Wine
// keeps no Device Manager list and no Windows Time service, so only these tests see them.
#include <gtest/gtest.h>

#include "doctor/device_manager.h"
#include "doctor/time_service.h"

namespace {

std::string OnlyText(const Report& report, Level* level = nullptr) {
    EXPECT_EQ(report.findings().size(), 1u);
    if (report.findings().empty()) {
        return {};
    }
    if (level != nullptr) {
        *level = report.findings().front().level;
    }
    return report.findings().front().text;
}

// "w32tm /query /status" of a Windows 11 PC in a workgroup.
constexpr const char* kSynchronised =
    "Leap Indicator: 0(no warning)\r\n"
    "Stratum: 4 (secondary reference - syncd by (S)NTP)\r\n"
    "Precision: -23 (119.209ns per tick)\r\n"
    "Root Delay: 0.0312500s\r\n"
    "ReferenceId: 0x14655439 (source IP:  20.101.57.9)\r\n"
    "Last Successful Sync Time: 12/7/2026 9:41:03 PM\r\n"
    "Source: time.windows.com,0x9\r\n"
    "Poll Interval: 10 (1024s)\r\n";

// The same right after the service started, before it reached a server.
constexpr const char* kNotYet =
    "Leap Indicator: 3(not synchronized)\r\n"
    "Stratum: 0 (unspecified)\r\n"
    "Last Successful Sync Time: unspecified\r\n"
    "Source: Local CMOS Clock\r\n";

}  // namespace

TEST(DeviceManagerEntry, TheNamesAUserKnowsTheEmitterBy) {
    EXPECT_EQ(UsbVidPid("USB\\VID_0403&PID_6001&REV_0600"), "0403:6001");
    EXPECT_EQ(UsbVidPid("usb\\vid_067b&pid_2303"), "067B:2303");
    EXPECT_EQ(UsbVidPid("FTDIBUS\\COMPORT&VID_0403&PID_6015"), "0403:6015");
    EXPECT_EQ(UsbVidPid("ACPI\\PNP0501"), "");  // a port on the board
    EXPECT_EQ(UsbVidPid("USB\\VID_04&PID_6001"), "");

    EXPECT_EQ(ComNumber("COM5"), 5);
    EXPECT_EQ(ComNumber("com16"), 16);
    EXPECT_EQ(ComNumber("COM0"), std::nullopt);
    EXPECT_EQ(ComNumber("LPT1"), std::nullopt);
    EXPECT_EQ(ComNumber("COM5 "), std::nullopt);

    EXPECT_EQ(Describe(DeviceManagerEntry{"USB Serial Port (COM5)", "FTDI",
                                          "USB\\VID_0403&PID_6001&REV_0600"}),
              "USB Serial Port (COM5), made by FTDI, USB VID:PID 0403:6001");
    EXPECT_EQ(Describe(DeviceManagerEntry{"Communications Port (COM1)", "(Standard port types)",
                                          "ACPI\\PNP0501"}),
              "Communications Port (COM1), made by (Standard port types)");
}

TEST(TimeServiceRule, EachAnswerOfWindowsTimeGivesItsFinding) {
    TimeService running{true, "running", "automatic", "NTP", "time.windows.com,0x9", kSynchronised};
    EXPECT_EQ(ParseW32tmStatus(kSynchronised).lastSync, "12/7/2026 9:41:03 PM");
    struct Case {
        TimeService service;
        Level level;
        const char* text;
    } cases[] = {
        {running, Level::Ok,
         "yes: Windows Time is running (start: automatic), to synchronise with "
         "time.windows.com,0x9; last synchronised 12/7/2026 9:41:03 PM from time.windows.com,0x9"},
        {{true, "running", "automatic", "NTP", "pool.ntp.org", kNotYet},
         Level::Note,
         "it has not synchronised yet"},
        {{true, "running", "manual", "NT5DS", "", std::nullopt},
         Level::Ok,
         "with the domain's time; its last synchronisation cannot be read"},
        {{true, "stopped", "manual", "NTP", "time.windows.com", std::nullopt},
         Level::Note,
         "not now: Windows Time is stopped (start: manual), to synchronise with time.windows.com; "
         "Windows starts it now and then"},
        {{true, "stopped", "disabled", "NTP", "time.windows.com", std::nullopt},
         Level::Note,
         "no: Windows Time is stopped (start: disabled)"},
        {{true, "running", "automatic", "NoSync", "", std::nullopt},
         Level::Note,
         "set not to synchronise (Type NoSync)"},
        {{},
         Level::Note,
         "no: Windows Time (w32time) is not installed; the wall clock is set "
         "to whatever this computer shows"},
    };
    for (const Case& c : cases) {
        Report report;
        CheckTimeService(c.service, report);
        Level level = Level::Problem;
        std::string text = OnlyText(report, &level);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_EQ(level, c.level) << text;  // a clock that runs free stops nothing
    }
}
