#include "serial/port_selection.h"

#include "log/event_log.h"
#include "serial/line_settings.h"
#include "serial/port_names.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"

namespace {

std::optional<std::int16_t> ExactPortName(std::string_view text) {
    for (std::int16_t number = kFirstPort; number <= kLastPort; ++number) {
        if (text == "COM" + std::to_string(number)) {
            return number;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int16_t> PortNumberFromEntry(std::string_view text) {
    if (auto number = ExactPortName(text)) {
        return number;
    }
    return text.empty() ? std::nullopt : ExactPortName(text.substr(1));
}

std::optional<std::int16_t> SavedPortNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == ' ')) {
        text.remove_prefix(1);
    }
    return ExactPortName(text);
}

void ChooseListEntry(const std::string& listText, KeptPort& port,
                     const std::filesystem::path& settingsFile, const std::function<void()>& warn) {
    // Closes the device only if it is open, but ends the retries of a port that was lost or
    // never opened too: the user has chosen something else.
    port.Close();
    if (auto number = PortNumberFromEntry(listText)) {
        port.SetCommPort(*number);
    }
    if (!port.PortOpen() && listText != "None" && !port.Open()) {
        warn();
    }
    // Saved even when the open failed, so the port is tried again at the next start.
    if (!WriteIniValue("SerialSync", "COMPORT", listText, settingsFile)) {
        Log().NotSaved("COMPORT", listText, LocateSettings(settingsFile).write);
    }
}

std::string SavedPortChoice(const std::filesystem::path& settingsFile) {
    return ReadIniValue("SerialSync", "COMPORT", "None", settingsFile);
}

std::string RestoredListText(std::string savedChoice) {
    return savedChoice.empty() ? "COM1" : savedChoice;
}

std::string RestoreSavedPort(SerialPort& port, const std::filesystem::path& settingsFile) {
    std::string listText = RestoredListText(SavedPortChoice(settingsFile));
    if (auto number = SavedPortNumber(listText)) {
        port.SetCommPort(*number);
    }
    return listText;
}

void OpenRestoredPort(const std::string& listText, SerialPort& port) {
    port.SetSettings(std::string(kLineSettings));
    // A text that names no port opens nothing: falling back to port 1 would send packets to
    // a device nobody chose.
    if (SavedPortNumber(listText)) {
        port.Open();  // continue on error: a busy or missing port just stays closed
    }
}
