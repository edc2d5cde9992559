#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "doctor/clock_facts.h"
#include "system/wall_clock.h"

#ifdef __linux__
#include <sys/timex.h>
#endif

long UtcOffsetAt(std::int64_t instant) {
    return LocalFields(instant).tm_gmtoff;
}

std::string ZoneAbbreviationAt(std::int64_t instant) {
    std::tm fields = LocalFields(instant);
    return fields.tm_zone != nullptr ? fields.tm_zone : "?";
}

std::string ZoneName() {
    FollowZoneChanges();
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

void CheckSynchronisation([[maybe_unused]] Report& report) {
#ifdef __linux__
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
#endif
}
