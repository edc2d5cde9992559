#include "doctor/journal.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "doctor/recent_events.h"
#include "doctor/run_for_output.h"

JournalReading MakeSenseOfJournal(const std::string& output, int exitStatus, bool mayReadAll) {
    JournalReading reading;
    if (exitStatus != 0) {
        reading.why = "journalctl could not read the journal (exit status " +
                      std::to_string(exitStatus) + ")";
        return reading;
    }
    if (!mayReadAll) {
        // journalctl answers "-- No entries --" rather than saying it may show nothing.
        reading.why =
            "the journal cannot be read by this user: only root and the groups systemd-journal "
            "and adm see the service's lines; run the doctor with sudo";
        return reading;
    }
    reading.readable = true;
    std::istringstream lines(output);
    for (const std::string& line : LastLines(lines, kRecentEvents)) {
        if (line.rfind("-- ", 0) != 0) {  // "-- No entries --", "-- Boot ... --"
            reading.lines.push_back(line);
        }
    }
    return reading;
}

bool MayReadSystemJournal() {
    if (::geteuid() == 0) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    groups.push_back(::getegid());
    for (gid_t gid : groups) {
        group* entry = ::getgrgid(gid);
        std::string name = entry != nullptr ? entry->gr_name : "";
        if (name == "systemd-journal" || name == "adm") {
            return true;
        }
    }
    return false;
}

JournalReading ReadJournal(const std::string& unit, bool mayReadAll) {
    CommandOutput journal =
        RunForOutput("journalctl --no-pager -q -u '" + unit + "' -n " +
                     std::to_string(kRecentEvents) + " -o short-iso 2>/dev/null");
    return MakeSenseOfJournal(journal.text, journal.exitStatus, mayReadAll);
}

void AddServiceEvents(const std::string& unit, bool mayReadAll, Report& report) {
    JournalReading reading = ReadJournal(unit, mayReadAll);
    if (!reading.readable) {
        report.Add(kRecentEventsSection, "journal", Level::Note, reading.why);
        return;
    }
    report.Add(kRecentEventsSection, "journal", Level::Ok,
               reading.lines.empty()
                   ? "no lines from " + unit + " in the journal"
                   : TheLastLines(reading.lines.size()) + " of journalctl -u " + unit);
    report.SetEvents(std::move(reading.lines));
}
