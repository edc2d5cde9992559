#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The file beside the program that keeps the user's choices. Reads and writes given this path
// follow the settings location rule: beside the program where it can be written there, else
// the per-user copy (settings_location.h).
std::filesystem::path settingsFilePath(const std::filesystem::path& programDirectory);

// Key names are looked up in small letters; lookup ignores case, so keys written in capitals
// are found. Gives defaultValue when the file, section or key is missing or unreadable.
std::string ReadIniValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue, const std::filesystem::path& file);

// Key names are written in capitals. A write that cannot happen changes nothing else: the
// program runs on with the choice in its window and the next start reads the old value.
// Returns whether the value was written, so that the caller can have it logged.
bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   const std::filesystem::path& file);
