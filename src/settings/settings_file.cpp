#include "settings/settings_file.h"

#include <algorithm>

#include "settings/ascii_case.h"
#include "settings/profile_file.h"
#include "settings/settings_location.h"

namespace {

constexpr std::size_t kReplyBufferSize = 750;

std::string WithCase(std::string_view text, char (*convert)(char)) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), convert);
    return result;
}

}  // namespace

std::filesystem::path settingsFilePath(const std::filesystem::path& programDirectory) {
    return programDirectory / "Skyfix.ini";
}

std::string ReadIniValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue, const std::filesystem::path& file) {
    return ReadProfileString(LocateSettings(file).read, section, WithCase(key, LowerAscii),
                             defaultValue, kReplyBufferSize);
}

bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   const std::filesystem::path& file) {
    std::filesystem::path target = PrepareSettingsWrite(file);
    return !target.empty() && WriteProfileString(target, section, WithCase(key, UpperAscii), value);
}
