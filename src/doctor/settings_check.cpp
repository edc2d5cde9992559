#include "doctor/settings_check.h"

#include <algorithm>
#include <map>

#include "clock/time_reference.h"
#include "serial/port_selection.h"
#include "settings/ascii_case.h"
#include "settings/profile_file.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "settings";
constexpr std::size_t kReplyBufferSize = 750;  // what the program's own reads are cut to

// Read from the file the location rule chose (or the service's), as the program reads it.
std::string Value(const fs::path& file, const char* key, const char* defaultValue) {
    return ReadProfileString(file, "SerialSync", key, defaultValue, kReplyBufferSize);
}

void CheckPort(const fs::path& file, SettingsVerdict& verdict, Report& report) {
    std::string text = Value(file, "COMPORT", "None");
    std::string shown = text.empty() ? "COM1" : text;  // the start's rule for an empty value
    verdict.port = SavedPortNumber(shown);
    if (verdict.port) {
        report.Add(kSection, "COMPORT", Level::Ok,
                   "\"" + text + "\": the start opens COM" + std::to_string(*verdict.port));
    } else if (shown == "None") {
        report.Add(kSection, "COMPORT", Level::Problem,
                   "\"None\": no port is chosen, so nothing is sent; choose the emitter's port in "
                   "the window's list");
    } else {
        std::string upper = shown;
        std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
        std::string hint = SavedPortNumber(upper) ? " (did you mean \"" + upper + "\"?)" : "";
        report.Add(kSection, "COMPORT", Level::Problem,
                   "\"" + text + "\" names no port" + hint +
                       ": nothing is opened; the program reads only None, +COMn, \" COMn\" "
                       "and COMn for n from 1 to 16");
    }
}

std::string Looks(const std::string& key, const std::string& text) {
    return key + "=" + text;
}

// The restore at start: TimeUTC first (a true value selects UTC and rewrites TimeLocal),
// then TimeLocal. A text that is no Boolean is skipped.
void CheckTimeReference(const fs::path& file, Report& report) {
    std::string utcText = Value(file, "TimeUTC", "0");
    std::string localText = Value(file, "TimeLocal", "1");
    std::optional<bool> utc = TextToBoolean(utcText);
    std::optional<bool> local = TextToBoolean(localText);
    for (const auto& [key, text, value] :
         {std::tuple{"TIMEUTC", utcText, utc}, std::tuple{"TIMELOCAL", localText, local}}) {
        if (!value) {
            report.Add(kSection, key, Level::Note,
                       "\"" + Looks(key, text) +
                           "\" is not read as true or false and is ignored; write True or False");
        } else if (!SameIgnoringCase(text, "True") && !SameIgnoringCase(text, "False") &&
                   text != "0" && text != "1") {
            report.Add(kSection, key, Level::Note,
                       "\"" + Looks(key, text) + "\" is read as " + (*value ? "True" : "False"));
        }
    }
    if (utc.value_or(false)) {
        report.Add(kSection, "time", Level::Ok, "UTC is sent");
    } else if (local.value_or(false)) {
        report.Add(kSection, "time", Level::Ok, "local time is sent");
    } else {
        report.Add(kSection, "time", Level::Note,
                   "neither UTC nor LOCAL is selected; local time is sent");
    }
}

void CheckRepeats(const fs::path& file, Report& report) {
    std::map<std::string, int> sections;
    for (const std::string& name : ReadProfileSectionNames(file)) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
        ++sections[lower];
    }
    for (const char* name : {"serialsync", "ports"}) {
        if (sections[name] > 1) {
            report.Add(kSection, std::string("[") + name + "]", Level::Note,
                       "appears " + std::to_string(sections[name]) +
                           " times (letter case aside); only the first counts");
        }
    }
    for (const char* section : {"SerialSync", "Ports"}) {
        std::map<std::string, int> keys;
        for (const auto& [key, value] : ReadProfileSection(file, section)) {
            std::string upper = key;
            std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
            if (++keys[upper] == 2) {
                report.Add(
                    kSection, upper, Level::Note,
                    std::string("appears more than once in [") + section + "]; the first counts");
            }
        }
    }
}

void CheckContent(const fs::path& file, SettingsVerdict& verdict, Report& report) {
    if (std::string why = WhyProfileUnreadable(file); !why.empty()) {
        report.Add(kSection, "read", Level::Problem,
                   "the file cannot be read (" + why + "), so the defaults apply");
    }
    CheckPort(file, verdict, report);
    CheckTimeReference(file, report);
    std::error_code error;
    if (fs::exists(file, error)) {
        CheckRepeats(file, report);
    }
}

}  // namespace

SettingsVerdict CheckSettings(const fs::path& programDirectory, Report& report) {
    SettingsVerdict verdict;
    verdict.besideFile = settingsFilePath(programDirectory);
    SettingsLocation where = LocateSettings(verdict.besideFile);
    std::error_code error;
    bool exists = fs::exists(where.read, error) || error;  // a link loop is there, unreadable
    report.Add(kSection, "file", Level::Ok,
               where.read.string() + (exists ? "" : " (not there yet: the defaults apply)") + ", " +
                   Describe(where.why));
    UnreadableSettings unread = FindUnreadableSettings(verdict.besideFile);
    if (where.write.empty()) {
        report.Add(kSection, "changes", Level::Note, "are not kept: there is no home folder");
    } else if (!unread.file.empty()) {
        // No write goes ahead without the whole file, nor a per-user file without its source.
        report.Add(
            kSection, "changes", Level::Problem,
            "are not kept while " + unread.file.string() + " cannot be read (" + unread.why + ")");
    } else if (where.write != where.read) {
        report.Add(kSection, "changes", Level::Ok, "are written to " + where.write.string());
    }
    CheckContent(where.read, verdict, report);
    verdict.names = PortNames::FromSettings(verdict.besideFile);
    return verdict;
}

SettingsVerdict CheckSettingsFile(const fs::path& file, Report& report) {
    SettingsVerdict verdict;
    verdict.besideFile = file;
    CheckContent(file, verdict, report);
    // This file, whoever reads it: the location rule would send a user to their own copy.
    std::map<int, std::string> found;
    for (const auto& [key, device] : ReadProfileSection(file, "Ports")) {
        for (int number = kFirstPort; number <= kLastPort; ++number) {
            if (SameIgnoringCase(key, "COM" + std::to_string(number)) && !device.empty()) {
                found.emplace(number, device);  // the first matching key wins
            }
        }
    }
    for (auto& [number, device] : found) {
        verdict.names.Override(number, device);
    }
    return verdict;
}
