#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "serial/kept_port.h"
#include "serial/serial_port.h"

// The port number a list text names: the text after its marker character, exactly "COM1" to
// "COM16". A text that is exactly "COMn" also names port n: that is how an entry marked " "
// comes back from the settings file, which drops the blank.
std::optional<std::int16_t> PortNumberFromEntry(std::string_view text);

// The port a saved text names: "+COMn", " COMn" or "COMn" for n from 1 to 16. Any other text,
// such as "+COM17", "+com5" or "COM05", names no port, and the start opens nothing for it.
std::optional<std::int16_t> SavedPortNumber(std::string_view text);

// Choosing an entry of the port list: closes the open port, opens the chosen one unless it is
// "None", and saves the choice. Whatever is chosen, the last choice is no longer retried, open
// or not. A failed step calls warn and the next step runs.
void ChooseListEntry(const std::string& listText, KeptPort& port,
                     const std::filesystem::path& settingsFile, const std::function<void()>& warn);

// The saved choice as the start reads it: COMPORT in [SerialSync], "None" when none is saved.
std::string SavedPortChoice(const std::filesystem::path& settingsFile);

// The list's text at start for a saved choice: the choice itself, "COM1" for an empty one.
std::string RestoredListText(std::string savedChoice);

// At start: the saved choice becomes the list's text ("COM1" for an empty one) and sets the
// port number it names. Returns the list's text. Writes nothing to the settings file.
std::string RestoreSavedPort(SerialPort& port, const std::filesystem::path& settingsFile);

// At start, after the restore: the line settings, then the open of the port the text names.
// A port that cannot be opened stays closed without a message.
void OpenRestoredPort(const std::string& listText, SerialPort& port);
