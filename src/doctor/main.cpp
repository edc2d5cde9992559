// beamclock-doctor: tells a user why the clock is not being set, and listens to what the
// emitter sends. Reads, probes and listens; never writes a file or to a port.

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "doctor/account.h"
#include "doctor/clock_check.h"
#include "doctor/device_manager.h"
#ifndef _WIN32
#include "doctor/journal.h"
#endif
#include "doctor/listen.h"
#include "doctor/ports_check.h"
#include "doctor/processes.h"
#include "doctor/recent_events.h"
#include "doctor/report.h"
#include "doctor/service_check.h"
#include "doctor/settings_check.h"
#include "doctor/version.h"
#include "serial/port_names.h"
#include "settings/settings_file.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kUsage =
    "usage: beamclock-doctor [--json] [--dir PROGRAM_DIR]\n"
    "       beamclock-doctor --listen COMn [--seconds N] [--json]\n"
    "\n"
    "Finds why Beamclock is not setting the clock: the settings file it reads and what it\n"
    "makes of it, COM1 to COM16 and why each can or cannot be opened, with their names in\n"
    "Device Manager, the PC clock, its time zone and Windows Time, a running Beamclock and\n"
    "its folder, and the last lines it logged. Exit status 0 when Beamclock can send as\n"
    "configured, 1 when something stops it, 2 for bad usage.\n"
    "\n"
    "  --dir PROGRAM_DIR  the folder of the beamclock.exe to look at, whose Skyfix.ini the\n"
    "                     settings rule starts from (default: this program's own folder)\n"
    "  --json             the same findings as JSON\n"
    "  --listen COMn      open the port at 9600 8N1 and show each packet that arrives: the\n"
    "                     time it names, local or UTC, and how late its first byte came;\n"
    "                     exit status 1 unless every even second came once, on time, and\n"
    "                     2 when the port cannot be opened\n"
    "  --seconds N        how long to listen (default 60)\n"
    "  --help, --version\n";
#else
constexpr const char* kUsage =
    "usage: beamclock-doctor [--json] [--dir PROGRAM_DIR]\n"
    "       beamclock-doctor --service [--json]\n"
    "       beamclock-doctor --listen COMn|DEVICE [--seconds N] [--json]\n"
    "\n"
    "Finds why Beamclock is not setting the clock: the settings file it reads and what it\n"
    "makes of it, COM1 to COM16 and why each can or cannot be opened, the PC clock and its\n"
    "time zone, a running Beamclock, and the last lines it logged. Run with sudo, it reports\n"
    "for the user who ran sudo. Exit status 0 when Beamclock can send as configured, 1 when\n"
    "something stops it, 2 for bad usage.\n"
    "\n"
    "  --dir PROGRAM_DIR  the folder of the beamclock to look at, whose Skyfix.ini the settings\n"
    "                     rule starts from (default: this program's own folder)\n"
    "  --service          the box as beamclockd.service sees it: /etc/beamclock/Skyfix.ini,\n"
    "                     the unit, the device for group dialout, who holds it, its journal\n"
    "  --json             the same findings as JSON\n"
    "  --listen COMn      open the port (or any DEVICE) at 9600 8N1 and show each packet that\n"
    "                     arrives: the time it names, local or UTC, and how late its first\n"
    "                     byte came; exit status 1 unless every even second came once, on\n"
    "                     time, and 2 when the device cannot be opened\n"
    "  --seconds N        how long to listen (default 60)\n"
    "  --help, --version\n";
#endif

int BadUsage(const char* why) {
    std::fprintf(stderr, "beamclock-doctor: %s\n%s", why, kUsage);
    return 2;
}

#ifndef _WIN32
bool RunsFor(const Account& account, const ProcessTable& processes) {
    for (const Process* process : processes.Named(kDesktopProgram)) {
        if (process->uid == account.uid && !process->service) {
            return true;
        }
    }
    return false;
}
#endif

fs::path OwnDirectory() {
#ifdef _WIN32
    wchar_t module[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    if (length > 0 && length < MAX_PATH * 4) {
        return fs::path(module).parent_path();
    }
#endif
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);  // the report is UTF-8: names of folders and devices
#endif
    bool json = false;
    bool service = false;
    fs::path programDirectory = OwnDirectory();
    std::string listenDevice;
    double seconds = 60;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("beamclock-doctor %s\n", kDoctorVersion);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--service") {
            service = true;
        } else if (arg == "--dir" && hasValue) {
            programDirectory = argv[++i];
        } else if (arg == "--listen" && hasValue) {
            listenDevice = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds > 0) || seconds > 86400) {
                return BadUsage("--seconds takes a number of seconds, up to a day");
            }
        } else {
            return BadUsage(("unknown or incomplete argument: " + arg).c_str());
        }
    }
    if (!listenDevice.empty()) {
        if (std::optional<int> number = ComNumber(listenDevice); number && *number <= kLastPort) {
            // "COM5" as the program would open it, [Ports] included.
            listenDevice =
                PortNames::FromSettings(settingsFilePath(programDirectory)).DeviceFor(*number);
        }
        return Listen(listenDevice, seconds, json);
    }

    Report report;
    ProcessTable processes;  // read first: under sudo, as root, it sees every lock and process
    Account account = ReportedAccount();
#ifdef _WIN32
    // No sudo, no service and no journal on Windows: the user's own Beamclock is all there is.
    if (service) {
        return BadUsage("--service is for Linux's beamclockd.service");
    }
    SettingsVerdict settings = CheckSettings(programDirectory, report);
    CheckPorts(settings, account, processes, report);
    CheckClock(report);
    CheckRunning(settings, account, processes, report);
    AddDesktopEvents(report);
#else
    bool serviceEvents = service;
    if (service) {
        CheckService(SystemRoot(), processes, report);
        CheckClock(report);
    } else {
        DescribeAccount(account, report);
        ActingAs as(account);
        if (account.viaSudo && !as.Switched()) {
            report.Add("user", account.name, Level::Note,
                       "could not take on this user's ids: the findings below are root's");
        }
        SettingsVerdict settings = CheckSettings(programDirectory, report);
        CheckPorts(settings, account, processes, report);
        CheckClock(report);
        CheckRunning(settings, account, processes, report);
        UnitState unit = QueryUnit(SystemRoot(), processes);
        if (unit.active && processes.Services().empty()) {
            report.Add("running", kServiceProgram, Level::Note,
                       std::string(kServiceUnit) +
                           " runs; beamclock-doctor --service checks it as the service sees the "
                           "box");
        }
        serviceEvents =
            (unit.active || !processes.Services().empty()) && !RunsFor(account, processes);
        if (!serviceEvents) {
            AddDesktopEvents(report);
        }
    }
    // Back to root's ids under sudo: journalctl run as the user would show none of the
    // service's lines, and say nothing of it.
    if (serviceEvents) {
        AddServiceEvents(kServiceUnit, MayReadSystemJournal(), report);
    }
#endif
    std::fputs(json ? report.AsJson().c_str() : report.AsText().c_str(), stdout);
    return report.HasProblem() ? 1 : 0;
}
