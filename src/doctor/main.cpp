// beamclock-doctor: tells a user why the clock is not being set, and listens to what the
// emitter sends. Reads, probes and listens; never writes a file or to a port.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "doctor/clock_check.h"
#include "doctor/listen.h"
#include "doctor/ports_check.h"
#include "doctor/processes.h"
#include "doctor/report.h"
#include "doctor/settings_check.h"
#include "doctor/version.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: beamclock-doctor [--json] [--dir PROGRAM_DIR | --service]\n"
    "       beamclock-doctor --listen DEVICE [--seconds N] [--json]\n"
    "\n"
    "Finds why Beamclock is not setting the clock: the settings file it reads and what it\n"
    "makes of it, COM1 to COM16 and why each can or cannot be opened, the PC clock and its\n"
    "time zone, and a running Beamclock. Exit status 0 when Beamclock can send as configured,\n"
    "1 when something stops it, 2 for bad usage.\n"
    "\n"
    "  --dir PROGRAM_DIR  the folder of the beamclock to look at (default: this program's own)\n"
    "  --service          look at beamclockd.service: /etc/beamclock/Skyfix.ini\n"
    "  --json             the same findings as JSON\n"
    "  --listen DEVICE    open DEVICE at 9600 8N1 and show each packet that arrives: the time\n"
    "                     it names, local or UTC, and how late its first byte came\n"
    "  --seconds N        how long to listen (default 60)\n"
    "  --help, --version\n";

int BadUsage(const char* why) {
    std::fprintf(stderr, "beamclock-doctor: %s\n%s", why, kUsage);
    return 2;
}

fs::path OwnDirectory() {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
}

}  // namespace

int main(int argc, char* argv[]) {
    bool json = false;
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
        } else if (arg == "--dir" && hasValue) {
            programDirectory = argv[++i];
        } else if (arg == "--service") {
            programDirectory = "/etc/beamclock";  // the service's file, named as the unit runs it
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
        return Listen(listenDevice, seconds, json);
    }

    Report report;
    SettingsVerdict settings = CheckSettings(programDirectory, report);
    ProcessTable processes;
    CheckPorts(settings.besideFile, settings.port, processes, report);
    CheckClock(report);
    CheckRunning(settings.besideFile, settings.port, processes, report);
    std::fputs(json ? report.AsJson().c_str() : report.AsText().c_str(), stdout);
    return report.HasProblem() ? 1 : 0;
}
