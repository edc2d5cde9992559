#include "doctor/settings_check.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "clock/time_reference.h"
#include "serial/port_selection.h"
#include "settings/ascii_case.h"
#include "settings/profile_file.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "settings";

// Read as the program reads it: through the location rule from the file it is given.
std::string Value(const fs::path& settingsFile, const char* key, std::string_view defaultValue) {
    return ReadIniValue("SerialSync", key, defaultValue, settingsFile);
}

void CheckPort(const fs::path& settingsFile, SettingsVerdict& verdict, Report& report) {
    std::string text = SavedPortChoice(settingsFile);
    std::string shown = RestoredListText(text);
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

// Whether the start ends in UTC, by the program's own restore, run here without saving since
// the doctor writes nothing. A program that keeps its changes saves the click of a true TimeUTC
// (TimeLocal=False with it) before it reads TimeLocal, so the UTC selected first stays; one
// that cannot, like the service, goes on to TimeLocal as the file has it.
std::optional<bool> RestoredUtcMode(const fs::path& settingsFile, bool keepsChanges) {
    std::optional<bool> utcMode;
    TimeReference reference(utcMode, settingsFile);
    reference.savesChoice = false;
    bool utcSelected = false;
    reference.onChanged = [&] {
        utcSelected = utcSelected || reference.Selected(TimeReference::kUtc);
    };
    reference.Restore();
    return keepsChanges && utcSelected ? std::optional<bool>(true) : utcMode;
}

void CheckTimeReference(const fs::path& settingsFile, bool keepsChanges, Report& report) {
    std::string utcText = Value(settingsFile, "TimeUTC", kTimeUtcDefault);
    std::string localText = Value(settingsFile, "TimeLocal", kTimeLocalDefault);
    for (const auto& [key, text] :
         {std::pair{"TIMEUTC", utcText}, std::pair{"TIMELOCAL", localText}}) {
        std::optional<bool> value = TextToBoolean(text);
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
    std::optional<bool> utc = RestoredUtcMode(settingsFile, keepsChanges);
    if (!utc) {
        report.Add(kSection, "time", Level::Note,
                   "neither UTC nor LOCAL is selected; local time is sent");
    } else {
        report.Add(kSection, "time", Level::Ok, *utc ? "UTC is sent" : "local time is sent");
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

// settingsFile: the file the program is given; reads follow the location rule from it.
void CheckContent(const fs::path& settingsFile, bool keepsChanges, SettingsVerdict& verdict,
                  Report& report) {
    fs::path read = LocateSettings(settingsFile).read;
    if (std::string why = WhyProfileUnreadable(read); !why.empty()) {
        report.Add(kSection, "read", Level::Problem,
                   "the file cannot be read (" + why + "), so the defaults apply");
    }
    if (auto text = LoadProfileText(read); text && text->encoding == TextEncoding::Utf16Le) {
        report.Add(kSection, "encoding", Level::Note,
                   "UTF-16 LE (Notepad's \"Unicode\"); Beamclock reads it and keeps it so");
    }
    CheckPort(settingsFile, verdict, report);
    CheckTimeReference(settingsFile, keepsChanges, report);
    std::error_code error;
    if (fs::exists(read, error)) {
        CheckRepeats(read, report);
    }
    verdict.names = PortNames::FromSettings(settingsFile);
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
    CheckContent(verdict.besideFile, !where.write.empty() && unread.file.empty(), verdict, report);
    return verdict;
}

SettingsVerdict CheckSettingsFile(const fs::path& file, Report& report) {
    // This file, whoever reads it, as the service takes it: the location rule would send a
    // user to their own copy.
    TakeSettingsFileAsGiven(file);
    SettingsVerdict verdict;
    verdict.besideFile = file;
    CheckContent(file, false, verdict, report);
    return verdict;
}
