#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How much a line matters, as syslog and the journal number it.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line of the log as it is written. For the journal: "<4>COM5 lost ...", the journal
// keeping its own time. Otherwise: "2026-12-08 01:02:03.456 warning: COM5 lost ...", in local
// time to the millisecond.
std::string FormatLine(Priority priority, std::string_view text, bool forJournal,
                       std::int64_t unixMilliseconds);

// Whether standard error is the journal: JOURNAL_STREAM ("device:inode", in decimal) names
// the very file standard error is. A variable inherited by a child whose standard error went
// elsewhere names another file, and is not believed.
bool JournalStreamNames(const char* journalStream, std::uint64_t device, std::uint64_t inode);

// "3 h", "2 min 5 s", "4.250 s": a span of time for people.
std::string Span(std::int64_t milliseconds);
