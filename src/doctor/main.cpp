// beamclock-doctor: tells a user why the clock is not being set, and listens to what the
// emitter sends. Reads, probes and listens; never writes a file or to a port.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "doctor/device_manager.h"
#include "doctor/listen.h"
#include "doctor/modes.h"
#include "doctor/report.h"
#include "serial/port_names.h"
#include "settings/settings_file.h"
#include "version.h"

namespace fs = std::filesystem;

namespace {

// A console window that Windows opened for the doctor closes as it ends, report and all.
int AfterEnter(int status) {
    std::fputs("\nPress Enter to close this window.\n", stdout);
    std::fflush(stdout);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
    return status;
}

int BadUsage(const char* why) {
    std::fprintf(stderr, "beamclock-doctor: %s\n%s", why, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    UseUtf8Console();
    bool json = false;
    bool service = false;
    std::string instance;
    bool pause = false;
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
            std::printf("beamclock-doctor %s\n", kVersion);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--pause") {
            pause = true;
        } else if (arg == "--service") {
            service = true;
            if (hasValue && argv[i + 1][0] != '-') {
                instance = argv[++i];
                if (!ServiceInstance::Valid(instance)) {
                    return BadUsage(
                        "--service NAME takes a name of letters, digits, '_', '-' "
                        "and '.'");
                }
            }
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
        if (std::string why; !ListenAsTheUser(why)) {
            std::fprintf(stderr, "beamclock-doctor: %s\n", why.c_str());
            return 2;
        }
        if (std::optional<int> number = ComNumber(listenDevice); number && *number <= kLastPort) {
            // "COM5" as the program would open it, [Ports] included.
            listenDevice =
                PortNames::FromSettings(settingsFilePath(programDirectory)).DeviceFor(*number);
        }
        return Listen(listenDevice, seconds, json);
    }

    Report report;
    if (!Examine(service ? Mode::Service : Mode::Desktop, programDirectory, instance, report)) {
        return BadUsage("--service is for Linux's beamclockd.service");
    }
    std::fputs(json ? report.AsJson().c_str() : report.AsText().c_str(), stdout);
    int status = report.HasProblem() ? 1 : 0;
    return pause ? AfterEnter(status) : status;
}
