#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// The end of a file the doctor shows but did not make: a log that may be anything by now (a
// link to a device, a fifo nobody writes). It is opened without waiting, and only when what
// was opened is a regular file is anything read, and then only its last bytes.
struct FileTail {
    enum class Outcome { Read, CannotOpen, NotAFile };
    Outcome outcome = Outcome::CannotOpen;
    std::string what;   // NotAFile: "a fifo", "a device", "a directory" ...
    std::string bytes;  // Read: the last maxBytes at most
    bool cut = false;   // Read: the file holds more than bytes, before them
};

FileTail ReadFileTail(const std::filesystem::path& path, std::size_t maxBytes);
