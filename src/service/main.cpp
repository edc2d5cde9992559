// beamclockd: Beamclock without a window, for a box beside the clock. Reads its settings file
// at start and again on SIGHUP, never writes it; ends cleanly on SIGTERM.

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "clock/clock_setter.h"
#include "clock/pc_clock.h"
#include "clock/sync_wait.h"
#include "log/event_log.h"
#include "qtcore/mark_timer.h"
#include "qtcore/process.h"
#include "qtcore/system_requests.h"
#include "serial/kept_port.h"
#include "serial/port_names.h"
#include "serial/system_serial_port.h"
#include "service/systemd_notify.h"
#include "settings/settings_location.h"
#include "version.h"

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

}  // namespace

int main(int argc, char* argv[]) {
    std::string settings = kDefaultSettings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("beamclockd %s\n", kVersion);
            return 0;
        } else if (arg == "--settings" && i + 1 < argc) {
            settings = argv[++i];
        } else {
            std::fprintf(stderr, "beamclockd: unknown or incomplete argument: %s\n%s", arg.c_str(),
                         kUsage);
            return 2;
        }
    }

    StartProcess(Program::Service);
    QCoreApplication app(argc, argv);
    // The administrator's file, read where it is and never written.
    TakeSettingsFileAsGiven(settings);
    SystemPcClock clock;
    std::unique_ptr<SerialPort> MSComm1 =
        MakeSystemSerialPort([settings] { return PortNames::FromSettings(settings); });
    ClockSetter setter(clock, *MSComm1, settings);
    setter.timeReference().savesChoice = false;

    SyncWait syncWait;
    syncWait.ReadSetting(settings);
    SystemdNotify systemd;

    MarkTimer SendUDP;
    SendUDP.OnlyNeededMarks();  // no display to refresh between the packets
    SendUDP.OnTimeout([&setter, &syncWait, &systemd] {
        if (syncWait.MaySend()) {
            setter.Tick();
        } else {
            setter.Withhold();
        }
        systemd.Status(syncWait.waiting() ? kWaitingForSync : Log().SendingState());
        systemd.Alive(KeptPort::SteadyClockMilliseconds());
    });
    SendUDP.OnClockSet([&setter](std::int64_t step) { setter.ClockWasSet(step); });

    SystemRequestHandlers handlers;
    handlers.close = [&setter, &systemd] {
        systemd.Stopping();
        setter.Stop();
        QCoreApplication::exit(0);
    };
    handlers.reload = [&setter, &settings, &syncWait] {
        Log().Message(Priority::Notice, "SIGHUP: reading " + settings + " again");
        setter.Reload();
        syncWait.ReadSetting(settings);
    };
    SystemRequests requests(std::move(handlers));

    setter.Load();
    SettingsLocation where = LocateSettings(settings);
    Log().Started(kVersion, where.read, Describe(where.why), setter.portText(), setter.utc());
    setter.SayIfUnreadable();
    systemd.Ready();
    SendUDP.Start();
    return QCoreApplication::exec();
}
