#include <QApplication>
#include <cstdio>
#include <memory>

#include "clock/pc_clock.h"
#include "desktop/single_instance.h"
#include "qtcore/process.h"
#include "qtcore/system_requests.h"
#include "serial/port_list.h"
#include "serial/system_serial_port.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"
#include "ui/korvel_set_time.h"

int main(int argc, char* argv[]) {
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
                          [] { QApplication::exit(0); }});
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
    window.show();
    return app.exec();
}
