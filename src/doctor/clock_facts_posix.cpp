#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "doctor/clock_facts.h"
#include "system/wall_clock.h"

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

void CheckSynchronisation(Report& report, bool forTheService) {
    ClockSync sync = ReadClockSync();
    if (!sync.known) {
        report.Add("clock", "synchronised", Level::Note, "the system does not say");
        return;
    }
    char errors[96];
    std::snprintf(errors, sizeof errors, "estimated error %.3f ms, maximum error %.3f ms",
                  sync.estimatedErrorMs, sync.maximumErrorMs);
    if (!sync.synchronised) {
        report.Add(
            "clock", "synchronised", Level::Note,
            std::string("no: the system clock is not synchronised to a time source (") + errors +
                (forTheService ? "); the service sends nothing while it is so, unless [Service] "
                                 "SendUnsynchronised=True in its settings says otherwise"
                               : "), so the wall clock is set to whatever this computer "
                                 "shows"));
    } else {
        report.Add("clock", "synchronised", Level::Ok, std::string("yes (") + errors + ")");
    }
}
