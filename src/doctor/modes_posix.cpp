#include <optional>
#include <span>

#include "doctor/account.h"
#include "doctor/clock_check.h"
#include "doctor/journal.h"
#include "doctor/modes.h"
#include "doctor/ports_check.h"
#include "doctor/processes.h"
#include "doctor/recent_events.h"
#include "doctor/service_check.h"
#include "doctor/settings_check.h"

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: beamclock-doctor [--json] [--pause] [--dir PROGRAM_DIR]\n"
    "       beamclock-doctor --service [NAME] [--json]\n"
    "       beamclock-doctor --listen COMn|DEVICE [--seconds N] [--json]\n"
    "\n"
    "Finds why Beamclock is not setting the clock: the settings file it reads and what it\n"
    "makes of it, COM1 to COM16 and why each can or cannot be opened, the serial devices\n"
    "present with their /dev/serial/by-id names and the COM number each is, the PC clock and\n"
    "its time zone, a running Beamclock, and the last lines it logged. Run with sudo, it reports\n"
    "for the user who ran sudo, and listens with their rights. Exit status 0 when Beamclock\n"
    "can send as configured, 1 when something stops it, 2 for bad usage.\n"
    "\n"
    "  --dir PROGRAM_DIR  the folder of the beamclock to look at, whose Skyfix.ini the settings\n"
    "                     rule starts from (default: this program's own folder)\n"
    "  --service          the box as beamclockd.service sees it: /etc/beamclock/Skyfix.ini,\n"
    "                     the unit, the device for group dialout, who holds it, its journal;\n"
    "                     with NAME, beamclockd@NAME.service and /etc/beamclock/NAME/Skyfix.ini\n"
    "  --json             the same findings as JSON\n"
    "  --pause            wait for Enter before ending, so that a console window opened for\n"
    "                     the report (the Start menu's \"Beamclock doctor\") stays to be read\n"
    "  --listen COMn      open the port (or any DEVICE) at 9600 8N1 and show each packet that\n"
    "                     arrives: the time it names, local or UTC, and how late its first\n"
    "                     byte came; exit status 1 unless every even second came once, on\n"
    "                     time, and 2 when the device cannot be opened\n"
    "  --seconds N        how long to listen (default 60)\n"
    "  --help, --version\n";

namespace {

// One run of the checks: what they were asked, what was read first, what they hand on.
struct Look {
    fs::path programDirectory;
    ServiceInstance instance;
    Report& report;
    ProcessTable processes{};  // read first: under sudo, as root, it sees every lock and process
    Account account = ReportedAccount();
    std::optional<ActingAs> actingAs{};
    SettingsVerdict settings{};
    std::vector<SerialDevice> present{};  // the serial devices there now
    bool serviceEvents = false;           // the recent events are the service's journal
};

using Check = void (*)(Look&);

void TheAccount(Look& look) {
    DescribeAccount(look.account, look.report);
}

// Under sudo, what follows is decided as the user who ran it: their files, their groups.
void TakeOnTheAccount(Look& look) {
    look.actingAs.emplace(look.account);
    if (look.account.viaSudo && !look.actingAs->Switched()) {
        look.report.Add("user", look.account.name, Level::Note,
                        "could not take on this user's ids: the findings below are root's");
    }
}

void Settings(Look& look) {
    look.settings = CheckSettings(look.programDirectory, look.report);
}

void Ports(Look& look) {
    look.present = PresentSerialDevices(SystemRoot());
    CheckPorts(look.settings, look.account, look.processes, look.report, look.present);
}

void SerialDevices(Look& look) {
    CheckSerialDevices(look.present, look.settings, look.report);
}

void Clock(Look& look) {
    CheckClock(look.report);
}

void ServiceClock(Look& look) {
    CheckClock(look.report, true);
}

void Running(Look& look) {
    CheckRunning(look.settings, look.account, look.processes, look.report);
}

// A service that runs while this user's Beamclock does not: its journal says more than the
// user's log.
void TheServiceUnit(Look& look) {
    UnitState unit = QueryUnit(SystemRoot(), ServiceInstance{}, look.processes);
    bool serviceRuns = !look.processes.Services().empty();
    if (unit.active && !serviceRuns) {
        look.report.Add("running", kServiceProgram, Level::Note,
                        std::string(kServiceUnit) +
                            " runs; beamclock-doctor --service checks it as the service sees the "
                            "box");
    }
    look.serviceEvents = (unit.active || serviceRuns) && !RunsFor(look.account, look.processes);
}

void DesktopEvents(Look& look) {
    if (!look.serviceEvents) {
        AddDesktopEvents(look.report);
    }
}

// Back to root's ids under sudo: journalctl run as the user would show none of the service's
// lines, and say nothing of it.
void BackToOwnIds(Look& look) {
    look.actingAs.reset();
}

void ServiceEvents(Look& look) {
    if (look.serviceEvents) {
        AddServiceEvents(look.instance.Unit(), MayReadSystemJournal(), look.report);
    }
}

void TheService(Look& look) {
    CheckService(SystemRoot(), look.instance, look.processes, look.report);
    look.serviceEvents = true;
}

constexpr Check kDesktop[] = {
    TheAccount, TakeOnTheAccount, Settings,      Ports,        SerialDevices, Clock,
    Running,    TheServiceUnit,   DesktopEvents, BackToOwnIds, ServiceEvents};
constexpr Check kService[] = {TheService, ServiceClock, ServiceEvents};

}  // namespace

fs::path OwnDirectory() {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
}

void UseUtf8Console() {}  // a terminal takes the bytes as they are

bool Examine(Mode mode, const fs::path& programDirectory, const std::string& instance,
             Report& report) {
    std::span<const Check> checks =
        mode == Mode::Service ? std::span<const Check>(kService) : std::span<const Check>(kDesktop);
    Look look{programDirectory, {instance}, report};
    for (Check check : checks) {
        check(look);
    }
    return true;
}

bool ListenAsTheUser(std::string& why) {
    Account account = ReportedAccount();
    if (BecomeForGood(account)) {
        return true;
    }
    why = "could not take on the ids of " + account.name + ", who ran sudo: not listening as root";
    return false;
}
