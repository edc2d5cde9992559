#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

// "0" is false and any other number true; "True" and "False" in any letter case. Anything
// else gives nothing.
std::optional<bool> TextToBoolean(std::string_view text);

// What the start reads for a button the settings file does not mention: LOCAL, not UTC.
inline constexpr std::string_view kTimeUtcDefault = "0";
inline constexpr std::string_view kTimeLocalDefault = "1";

// The UTC/LOCAL pair of option buttons (index 0 "UTC", index 1 "LOCAL") and what they decide.
// The window only mirrors the state held here.
class TimeReference {
  public:
    static constexpr int kUtc = 0;
    static constexpr int kLocal = 1;

    TimeReference(std::optional<bool>& utcMode, std::filesystem::path settingsFile);

    // Called after every change of a button's value, so the window can mirror it.
    std::function<void()> onChanged;

    // false: a choice is made but not saved, for a settings file that is not ours to write.
    bool savesChoice = true;

    bool Selected(int index) const { return selected_[index]; }

    // The user selects a button: the same as setting its value to true.
    void Select(int index) { SetValue(index, true); }

    // Setting a value to true selects that button, clears the other and runs the click
    // handler; setting it to false clears it and runs nothing.
    void SetValue(int index, bool value);

    // At start: TimeUTC then TimeLocal, each assigned to its button; a text that is no Boolean
    // leaves its button alone.
    void Restore();

  private:
    void Click();
    std::optional<bool> unsavedLocal_;  // TimeLocal as a click would have written it, unsaved
    // Each key that could not be written is said by its own name.
    void Save(const char* key, bool value) const;

    std::optional<bool>& utcMode_;
    std::filesystem::path settingsFile_;
    bool selected_[2] = {false, false};
};
