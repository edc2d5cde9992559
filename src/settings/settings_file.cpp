#include "settings/settings_file.h"

#include <algorithm>

#include "settings/profile_file.h"

namespace {

constexpr std::size_t kReplyBufferSize = 750;

std::string WithCase(std::string_view text, bool upper) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [upper](char c) {
        if (upper && c >= 'a' && c <= 'z') {
            return static_cast<char>(c - 'a' + 'A');
        }
        if (!upper && c >= 'A' && c <= 'Z') {
            return static_cast<char>(c - 'A' + 'a');
        }
        return c;
    });
    return result;
}

}  // namespace

std::filesystem::path settingsFilePath(const std::filesystem::path& programDirectory) {
    return programDirectory / "Skyfix.ini";
}

std::string ReadIniValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue, const std::filesystem::path& file) {
    return ReadProfileString(file, section, WithCase(key, false), defaultValue, kReplyBufferSize);
}

void WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   const std::filesystem::path& file) {
    WriteProfileString(file, section, WithCase(key, true), value);
}
