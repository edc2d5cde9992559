#include <windows.h>

#include "doctor/account_windows.h"
#include "doctor/clock_check.h"
#include "doctor/modes.h"
#include "doctor/ports_check.h"
#include "doctor/processes.h"
#include "doctor/recent_events.h"
#include "doctor/settings_check.h"

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: beamclock-doctor [--json] [--pause] [--dir PROGRAM_DIR]\n"
    "       beamclock-doctor --listen COMn [--seconds N] [--json]\n"
    "\n"
    "Finds why Beamclock is not setting the clock: the settings file it reads and what it\n"
    "makes of it, COM1 to COM16 and why each can or cannot be opened, with their names in\n"
    "Device Manager, the serial ports present, the PC clock, its time zone and Windows Time,\n"
    "a running Beamclock and its folder, and the last lines it logged. Exit status 0 when\n"
    "Beamclock can send as configured, 1 when something stops it, 2 for bad usage.\n"
    "\n"
    "  --dir PROGRAM_DIR  the folder of the beamclock.exe to look at, whose Skyfix.ini the\n"
    "                     settings rule starts from (default: this program's own folder)\n"
    "  --json             the same findings as JSON\n"
    "  --pause            wait for Enter before ending, so that a console window opened for\n"
    "                     the report (the Start menu's \"Beamclock doctor\") stays to be read\n"
    "  --listen COMn      open the port at 9600 8N1 and show each packet that arrives: the\n"
    "                     time it names, local or UTC, and how late its first byte came;\n"
    "                     exit status 1 unless every even second came once, on time, and\n"
    "                     2 when the port cannot be opened\n"
    "  --seconds N        how long to listen (default 60)\n"
    "  --help, --version\n";

namespace {

// One run of the checks: what they were asked, what was read first, what they hand on.
struct Look {
    fs::path programDirectory;
    Report& report;
    ProcessTable processes{};
    Account account = ReportedAccount();
    SettingsVerdict settings{};
    std::vector<SerialDevice> present{};  // the serial devices there now
};

using Check = void (*)(Look&);

void Settings(Look& look) {
    look.settings = CheckSettings(look.programDirectory, look.report);
}

void Ports(Look& look) {
    look.present = PresentSerialDevices({});
    CheckPorts(look.settings, look.account, look.processes, look.report, look.present);
}

void SerialDevices(Look& look) {
    CheckSerialDevices(look.present, look.settings, look.report);
}

void Clock(Look& look) {
    CheckClock(look.report);
}

void Running(Look& look) {
    CheckRunning(look.settings, look.account, look.processes, look.report);
}

void DesktopEvents(Look& look) {
    AddDesktopEvents(look.report);
}

// No sudo, no service and no journal: the user's own Beamclock is all there is.
constexpr Check kDesktop[] = {Settings, Ports, SerialDevices, Clock, Running, DesktopEvents};

}  // namespace

fs::path OwnDirectory() {
    wchar_t module[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? fs::path(module).parent_path()
                                               : fs::current_path();
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);  // the report is UTF-8: names of folders and devices
}

bool Examine(Mode mode, const fs::path& programDirectory, const std::string&, Report& report) {
    if (mode != Mode::Desktop) {
        return false;
    }
    Look look{programDirectory, report};
    for (Check check : kDesktop) {
        check(look);
    }
    return true;
}

bool ListenAsTheUser(std::string&) {
    return true;  // no sudo: whoever runs it is the user
}
