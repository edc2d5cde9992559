#include "clock/time_reference.h"

#include <charconv>
#include <cmath>
#include <string>

#include "log/event_log.h"
#include "settings/ascii_case.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"

namespace {

std::optional<double> Number(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    std::size_t last = text.find_last_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, last - first + 1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

const char* BooleanText(bool value) {
    return value ? "True" : "False";
}

}  // namespace

std::optional<bool> TextToBoolean(std::string_view text) {
    if (SameIgnoringCase(text, "true")) {
        return true;
    }
    if (SameIgnoringCase(text, "false")) {
        return false;
    }
    if (auto number = Number(text)) {
        return *number != 0;
    }
    return std::nullopt;
}

TimeReference::TimeReference(std::optional<bool>& utcMode, std::filesystem::path settingsFile)
    : utcMode_(utcMode), settingsFile_(std::move(settingsFile)) {}

void TimeReference::SetValue(int index, bool value) {
    if (!value) {
        selected_[index] = false;
        if (onChanged) {
            onChanged();
        }
        return;
    }
    selected_[index] = true;
    selected_[1 - index] = false;  // one group: selecting one clears the other
    if (onChanged) {
        onChanged();
    }
    Click();
}

void TimeReference::Click() {
    utcMode_ = selected_[kUtc];
    if (!savesChoice) {
        unsavedLocal_ = selected_[kLocal];
        return;
    }
    Save("TimeUTC", selected_[kUtc]);
    Save("TimeLocal", selected_[kLocal]);
}

void TimeReference::Save(const char* key, bool value) const {
    if (!WriteIniValue("SerialSync", key, BooleanText(value), settingsFile_)) {
        Log().NotSaved(key, BooleanText(value), LocateSettings(settingsFile_).write);
    }
}

void TimeReference::Restore() {
    unsavedLocal_.reset();
    if (auto utc =
            TextToBoolean(ReadIniValue("SerialSync", "TimeUTC", kTimeUtcDefault, settingsFile_))) {
        SetValue(kUtc, *utc);
    }
    // The first key's click writes TimeLocal before it is read; where nothing is saved, the read
    // must still see what that click would have written, or a file that says TIMEUTC=True alone
    // would end in local time.
    std::string local =
        unsavedLocal_ ? BooleanText(*unsavedLocal_)
                      : ReadIniValue("SerialSync", "TimeLocal", kTimeLocalDefault, settingsFile_);
    if (auto value = TextToBoolean(local)) {
        SetValue(kLocal, *value);
    }
}
