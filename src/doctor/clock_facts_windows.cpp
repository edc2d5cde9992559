#include <windows.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "doctor/clock_facts.h"
#include "doctor/time_service.h"
#include "doctor/windows_text.h"

namespace {

constexpr std::int64_t kUnixEpochInFileTime = 116'444'736'000'000'000;  // 100 ns since 1601

// The zone as the user chose it in Settings, read once: the check asks it thousands of times.
const DYNAMIC_TIME_ZONE_INFORMATION& Zone() {
    static const DYNAMIC_TIME_ZONE_INFORMATION zone = [] {
        DYNAMIC_TIME_ZONE_INFORMATION read{};
        GetDynamicTimeZoneInformation(&read);
        return read;
    }();
    return zone;
}

SYSTEMTIME SystemTimeOf(std::int64_t instant) {
    std::uint64_t ticks = static_cast<std::uint64_t>(instant * 10'000'000 + kUnixEpochInFileTime);
    FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time{};
    FileTimeToSystemTime(&file, &time);
    return time;
}

std::int64_t InstantOf(const SYSTEMTIME& time) {
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    std::uint64_t ticks = (std::uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - kUnixEpochInFileTime) / 10'000'000;
}

// The zone's rules for the instant's own year: Windows keeps a zone's history year by year.
// Kept once read, as the check asks for the same year thousands of times.
bool RulesFor(std::int64_t instant, TIME_ZONE_INFORMATION& rules) {
    static std::map<WORD, std::optional<TIME_ZONE_INFORMATION>> years;
    WORD year = SystemTimeOf(instant).wYear;
    auto [known, isNew] = years.try_emplace(year);
    if (isNew) {
        DYNAMIC_TIME_ZONE_INFORMATION zone = Zone();
        TIME_ZONE_INFORMATION read{};
        if (GetTimeZoneInformationForYear(year, &zone, &read)) {
            known->second = read;
        }
    }
    if (known->second) {
        rules = *known->second;
    }
    return known->second.has_value();
}

}  // namespace

long UtcOffsetAt(std::int64_t instant) {
    TIME_ZONE_INFORMATION rules{};
    SYSTEMTIME utc = SystemTimeOf(instant);
    SYSTEMTIME local{};
    if (!RulesFor(instant, rules) || !SystemTimeToTzSpecificLocalTime(&rules, &utc, &local)) {
        return 0;
    }
    return static_cast<long>(InstantOf(local) - instant);
}

std::string ZoneAbbreviationAt(std::int64_t instant) {
    TIME_ZONE_INFORMATION rules{};
    if (!RulesFor(instant, rules)) {
        return "?";
    }
    long daylight = -(rules.Bias + rules.DaylightBias) * 60;
    bool inDaylight = rules.DaylightDate.wMonth != 0 && rules.DaylightBias != 0 &&
                      UtcOffsetAt(instant) == daylight;
    return Utf8(inDaylight ? rules.DaylightName : rules.StandardName);
}

std::string ZoneName() {
    const DYNAMIC_TIME_ZONE_INFORMATION& zone = Zone();
    std::string name = Utf8(zone.TimeZoneKeyName);
    if (name.empty()) {
        name = Utf8(zone.StandardName);
    }
    if (zone.DynamicDaylightTimeDisabled) {
        name += " (adjust for daylight saving time automatically: off)";
    }
    // The C runtime, which Beamclock's local time comes from, prefers TZ to Windows' zone.
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        name += " (TZ=" + std::string(tz) + " is set: Beamclock follows TZ instead)";
    }
    return name;
}

void CheckSynchronisation(Report& report, bool /*forTheService: none on Windows*/) {
    CheckTimeService(TimeServiceFacts(), report);
}
