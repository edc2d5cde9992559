#include "doctor/clock_check.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "doctor/clock_facts.h"
#include "system/wall_clock.h"

namespace {

// "2026-12-07 14:05:10", the local time at an instant from the offset then in force.
std::string LocalText(std::int64_t instant) {
    using namespace std::chrono;
    sys_seconds local{seconds{instant + UtcOffsetAt(instant)}};
    sys_days day = floor<days>(local);
    year_month_day date{day};
    hh_mm_ss<seconds> time{local - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

}  // namespace

std::string OffsetText(std::int64_t instant) {
    long offset = UtcOffsetAt(instant);
    char text[64];
    std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld", offset < 0 ? '-' : '+',
                  std::labs(offset) / 3600, std::labs(offset) % 3600 / 60);
    return std::string(text) + " (" + ZoneAbbreviationAt(instant) + ")";
}

std::int64_t NextOffsetChange(std::int64_t from) {
    const long start = UtcOffsetAt(from);
    constexpr std::int64_t kYear = 366 * 24 * 3600;
    // Zones change on whole quarter hours at the finest; an hour's steps find every change,
    // then halving finds its second.
    for (std::int64_t later = from + 3600; later <= from + kYear; later += 3600) {
        if (UtcOffsetAt(later) != start) {
            std::int64_t before = later - 3600;
            while (later - before > 1) {
                std::int64_t middle = before + (later - before) / 2;
                (UtcOffsetAt(middle) == start ? before : later) = middle;
            }
            return later;
        }
    }
    return 0;
}

void CheckClock(Report& report, bool forTheService) {
    CheckSynchronisation(report, forTheService);
    std::string zone = ZoneName();  // first: it settles which zone the rest reads
    std::int64_t now = WallClockNow().seconds;
    report.Add("clock", "time zone", Level::Ok,
               zone + ", now " + OffsetText(now) + ", local time " + LocalText(now));
    if (std::int64_t change = NextOffsetChange(now)) {
        report.Add("clock", "next change", Level::Ok,
                   LocalText(change - 1) + " " + OffsetText(change - 1) + " is followed by " +
                       LocalText(change) + " " + OffsetText(change));
    } else {
        report.Add("clock", "next change", Level::Ok, "none in the coming year");
    }
}
