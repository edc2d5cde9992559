#include "doctor/clock_check.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "clock/wall_clock.h"

#ifdef __linux__
#include <sys/timex.h>
#endif

namespace {

long Offset(std::int64_t instant) {
    return LocalFields(instant).tm_gmtoff;
}

std::string LocalText(std::int64_t instant) {
    std::tm fields = LocalFields(instant);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

std::string ZoneName() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        return std::string(tz) + " (from TZ)";
    }
    std::error_code error;
    std::filesystem::path link = std::filesystem::read_symlink("/etc/localtime", error);
    std::string name = link.string();
    std::size_t zoneinfo = name.find("zoneinfo/");
    if (!error && zoneinfo != std::string::npos) {
        return name.substr(zoneinfo + 9);
    }
    std::string line;
    std::ifstream("/etc/timezone") >> line;
    return line.empty() ? "UTC (no zone is set)" : line;
}

#ifdef __linux__
void CheckSynchronisation(Report& report) {
    timex state{};
    int result = ::adjtimex(&state);  // modes 0: only reads
    if (result < 0) {
        report.Add("clock", "synchronised", Level::Note, "the system does not say");
        return;
    }
    bool unsynchronised = result == TIME_ERROR || (state.status & STA_UNSYNC) != 0;
    char errors[96];
    std::snprintf(errors, sizeof errors, "estimated error %.3f ms, maximum error %.3f ms",
                  static_cast<double>(state.esterror) / 1000.0,
                  static_cast<double>(state.maxerror) / 1000.0);
    if (unsynchronised) {
        report.Add("clock", "synchronised", Level::Note,
                   std::string("no: the system clock is not synchronised to a time source, so "
                               "the wall clock is set to whatever this computer shows (") +
                       errors + ")");
    } else {
        report.Add("clock", "synchronised", Level::Ok, std::string("yes (") + errors + ")");
    }
}
#endif

}  // namespace

std::string OffsetText(std::int64_t instant) {
    std::tm fields = LocalFields(instant);
    long offset = fields.tm_gmtoff;
    char text[64];
    std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld (%s)", offset < 0 ? '-' : '+',
                  std::labs(offset) / 3600, std::labs(offset) % 3600 / 60,
                  fields.tm_zone != nullptr ? fields.tm_zone : "?");
    return text;
}

std::int64_t NextOffsetChange(std::int64_t from) {
    const long start = Offset(from);
    constexpr std::int64_t kYear = 366 * 24 * 3600;
    // Zones change on whole quarter hours at the finest; an hour's steps find every change,
    // then halving finds its second.
    for (std::int64_t later = from + 3600; later <= from + kYear; later += 3600) {
        if (Offset(later) != start) {
            std::int64_t before = later - 3600;
            while (later - before > 1) {
                std::int64_t middle = before + (later - before) / 2;
                (Offset(middle) == start ? before : later) = middle;
            }
            return later;
        }
    }
    return 0;
}

void CheckClock(Report& report) {
#ifdef __linux__
    CheckSynchronisation(report);
#endif
    std::int64_t now = WallClockNow().seconds;
    FollowZoneChanges();
    report.Add("clock", "time zone", Level::Ok,
               ZoneName() + ", now " + OffsetText(now) + ", local time " + LocalText(now));
    if (std::int64_t change = NextOffsetChange(now)) {
        report.Add("clock", "next change", Level::Ok,
                   LocalText(change - 1) + " " + OffsetText(change - 1) + " is followed by " +
                       LocalText(change) + " " + OffsetText(change));
    } else {
        report.Add("clock", "next change", Level::Ok, "none in the coming year");
    }
}
