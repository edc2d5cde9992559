#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "clock/pc_clock.h"
#include "desktop/single_instance.h"
#include "desktop/tray_icon.h"
#include "qtcore/process.h"
#include "qtcore/system_requests.h"
#include "serial/port_list.h"
#include "serial/system_serial_port.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"
#include "ui/korvel_set_time.h"
#include "version.h"

namespace {

constexpr const char kUsage[] =
    "Usage: beamclock [--tray]\n"
    "Keeps an infrared wall clock set from this computer's clock: a clock packet on every even\n"
    "second to the serial port chosen in the window.\n"
    "\n"
    "  --tray     start in the notification area with the window hidden, where there is one\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "beamclock-doctor tells why the clock is not being set.\n";

bool Given(int argc, char* argv[], const char* option) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before anything of the program starts: no display, no log, no lock.
    if (Given(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (Given(argc, argv, "--version")) {
        std::printf("Beamclock %s\n", kVersion);
        return 0;
    }
    // Other arguments are Qt's own (-platform, a session manager's -session) or none at all.
    bool inTray = Given(argc, argv, "--tray");
    StartProcess(Program::Window);
    QApplication app(argc, argv);
    app.setApplicationName("Beamclock");
    app.setDesktopFileName("com.korvel.beamclock");  // the menu entry's id, for the desktop
    app.setQuitOnLastWindowClosed(false);            // the window ends the program itself

    // From UTF-16, never through the ANSI code page: a folder under a user called José works.
    std::filesystem::path programDirectory(QCoreApplication::applicationDirPath().toStdU16String());
    // The list's markers come from the mapping as the load finds it; every open reads it anew.
    std::filesystem::path settingsFile = settingsFilePath(programDirectory);
    PrepareSettingsAtStart(settingsFile);
    PortNames names = PortNames::FromSettings(settingsFile);
    SystemPcClock clock;
    std::unique_ptr<SerialPort> MSComm1 =
        MakeSystemSerialPort([settingsFile] { return PortNames::FromSettings(settingsFile); });

    KorvelSetTime window({clock,
                          *MSComm1,
                          programDirectory,
                          [&names](std::int16_t n) { return IsComPortAvailable(n, names); },
                          {},
                          [] { QApplication::exit(0); },
                          [&names](std::int16_t n) { return names.DeviceFor(n); }});
    // Before the claim: a second start may ask this copy to show itself as soon as it holds it.
    SystemRequests requests({.close = [&window] { window.close(); },
                             .reload = {},  // SIGHUP, a lost session, closes it
                             .show = [&window] { window.ShowOnRequest(); }});
    SingleInstance instance;
    // Named after the file really read and written: two installs that share one per-user file
    // are one copy.
    if (!instance.Claim(LocateSettings(settingsFile).Used())) {
        // Asked to show its window only when it is shown to be a Beamclock of this user.
        std::fputs("beamclock: another copy already runs with these settings\n", stderr);
        return 0;
    }
    window.Load();
    if (inTray) {
        StartInTray(window);
    } else {
        window.show();
    }
    return app.exec();
}
