#include "log/log_line.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "system/wall_clock.h"

namespace {

const char* Word(Priority priority) {
    switch (priority) {
        case Priority::Error:
            return "error";
        case Priority::Warning:
            return "warning";
        case Priority::Notice:
            return "notice";
        case Priority::Info:
            return "info";
    }
    return "";
}

std::string LocalTimestamp(std::int64_t unixMilliseconds) {
    std::int64_t seconds = unixMilliseconds / 1000;
    int millisecond = static_cast<int>(unixMilliseconds % 1000);
    if (millisecond < 0) {
        seconds -= 1;
        millisecond += 1000;
    }
    std::tm local = LocalFields(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millisecond);
    return text;
}

}  // namespace

std::string FormatLine(Priority priority, std::string_view text, bool forJournal,
                       std::int64_t unixMilliseconds) {
    std::string line;
    if (forJournal) {
        line = "<" + std::to_string(static_cast<int>(priority)) + ">";
    } else {
        line = LocalTimestamp(unixMilliseconds) + " " + Word(priority) + ": ";
    }
    // One event, one line: a message with line breaks in it (Qt's, say) must not look like
    // several events, or lose its priority after the first break.
    for (char c : text) {
        line += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return line;
}

bool JournalStreamNames(const char* journalStream, std::uint64_t device, std::uint64_t inode) {
    if (journalStream == nullptr) {
        return false;
    }
    std::uint64_t namedDevice = 0;
    std::uint64_t namedInode = 0;
    int used = 0;
    if (std::sscanf(journalStream, "%" SCNu64 ":%" SCNu64 "%n", &namedDevice, &namedInode, &used) !=
            2 ||
        journalStream[used] != '\0') {
        return false;
    }
    return namedDevice == device && namedInode == inode;
}

std::string Span(std::int64_t milliseconds) {
    if (milliseconds < 0) {
        milliseconds = -milliseconds;
    }
    char text[48];
    if (milliseconds < 60'000) {
        std::snprintf(text, sizeof text, "%d.%03d s", static_cast<int>(milliseconds / 1000),
                      static_cast<int>(milliseconds % 1000));
        return text;
    }
    std::int64_t seconds = milliseconds / 1000;
    // The larger unit, and the next smaller one where it is not nought: "3 h", "3 h 5 min".
    std::int64_t big = 60;
    std::int64_t small = 1;
    const char* bigName = "min";
    const char* smallName = "s";
    if (seconds >= 48 * 3600) {
        big = 86400, small = 3600, bigName = "days", smallName = "h";
    } else if (seconds >= 3600) {
        big = 3600, small = 60, bigName = "h", smallName = "min";
    }
    int bigCount = static_cast<int>(seconds / big);
    int smallCount = static_cast<int>(seconds % big / small);
    if (smallCount == 0) {
        std::snprintf(text, sizeof text, "%d %s", bigCount, bigName);
    } else {
        std::snprintf(text, sizeof text, "%d %s %d %s", bigCount, bigName, smallCount, smallName);
    }
    return text;
}
