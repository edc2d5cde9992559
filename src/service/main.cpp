// beamclockd: Beamclock without a window, for a box beside the clock. Reads its settings file
// at start and again on SIGHUP, never writes it; ends cleanly on SIGTERM.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <string>

#include "clock/pc_clock.h"
#include "log/event_log.h"
#include "log/log_output.h"
#include "serial/port_names.h"
#include "serial/system_serial_port.h"
#include "service/clock_service.h"
#include "settings/settings_location.h"
#include "qtcore/qt_messages.h"
#include "ui/version.h"

namespace {

constexpr const char* kDefaultSettings = "/etc/beamclock/Skyfix.ini";

constexpr const char* kUsage =
    "usage: beamclockd [--settings FILE]\n"
    "\n"
    "Keeps an infrared wall clock set from this computer's clock, without a window: every\n"
    "even second a clock packet on the port that the settings file chooses, in local time or\n"
    "in UTC as it says. Reads the file again on SIGHUP; never writes it. Ends on SIGTERM.\n"
    "\n"
    "  --settings FILE  the settings file (default /etc/beamclock/Skyfix.ini)\n"
    "  --help, --version\n";

// As the program's: the journal under systemd, else standard error and the log file.
void StartTheLog() {
    static std::unique_ptr<LogOutput> output = LogOutput::ForThisProcess();
    Log().SetOutput([](Priority priority, std::string_view text, std::int64_t unixMilliseconds) {
        output->Write(priority, text, unixMilliseconds);
    });
}

std::string Version() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string settings = kDefaultSettings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("beamclockd %s\n", Version().c_str());
            return 0;
        } else if (arg == "--settings" && i + 1 < argc) {
            settings = argv[++i];
        } else {
            std::fprintf(stderr, "beamclockd: unknown or incomplete argument: %s\n%s", arg.c_str(),
                         kUsage);
            return 2;
        }
    }

    // The ticks sleep to the wall clock's marks; let the kernel wake us on them, not 50 us on.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // The signals arrive as readable data in the event loop, never in the middle of a write.
    sigset_t handled;
    sigemptyset(&handled);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&handled, number);
    }
    ::sigprocmask(SIG_BLOCK, &handled, nullptr);
    int signalFd = ::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("beamclockd: signalfd");
        return 1;
    }

    StartTheLog();
    ForwardQtMessagesToLog(true);
    QCoreApplication app(argc, argv);
    // The administrator's file, read where it is and never written.
    TakeSettingsFileAsGiven(settings);
    SystemPcClock clock;
    std::unique_ptr<SerialPort> MSComm1 =
        MakeSystemSerialPort([settings] { return PortNames::FromSettings(settings); });
    ClockService service(clock, *MSComm1, settings, Version());

    QSocketNotifier notifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        signalfd_siginfo info{};
        while (::read(signalFd, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGHUP) {
                Log().Message(Priority::Notice, "SIGHUP: reading " + settings + " again");
                service.Reload();
            } else {
                service.Stop();
                Log().Ended(info.ssi_signo == SIGTERM ? "signal SIGTERM" : "signal SIGINT");
                QCoreApplication::exit(0);
            }
        }
    });

    service.Load();
    int status = QCoreApplication::exec();
    ::close(signalFd);
    return status;
}
