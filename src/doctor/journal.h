#pragma once

#include <string>
#include <vector>

#include "doctor/report.h"

// What journalctl gave, made sense of: its lines, or why there are none.
struct JournalReading {
    bool readable = false;
    std::vector<std::string> lines;
    std::string why;  // when not readable
};

// mayReadAll: whether this account may read the system journal (root, or group
// systemd-journal or adm); without it, journalctl shows the service's lines to nobody.
JournalReading MakeSenseOfJournal(const std::string& output, int exitStatus, bool mayReadAll);

// Root, or a member of systemd-journal or adm: who sees every unit's lines.
bool MayReadSystemJournal();

// Runs journalctl -u UNIT -n 10 -o short-iso.
JournalReading ReadJournal(const std::string& unit, bool mayReadAll);

// The "recent events" section from the service's journal.
void AddServiceEvents(const std::string& unit, bool mayReadAll, Report& report);
