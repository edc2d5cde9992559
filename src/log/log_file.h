#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

// Where the log lines are kept between runs: $XDG_STATE_HOME/beamclock/beamclock.log (else
// ~/.local/state/beamclock/beamclock.log); on Windows %LOCALAPPDATA%\beamclock\beamclock.log.
// Empty where there is no such place (no home). The doctor reads the same file.
std::filesystem::path LogFilePath();

// The log on disk: each line appended and flushed as it is written, so a crash loses nothing
// already said. At its limit the file becomes beamclock.log.1 (one old file kept) and a fresh
// one is begun. A file that cannot be written is given up quietly: the log must never stop
// the program it records.
class LogFile {
  public:
    static constexpr std::uintmax_t kLimitBytes = 1024 * 1024;

    explicit LogFile(std::filesystem::path path, std::uintmax_t limitBytes = kLimitBytes);

    // Returns whether the line reached the file.
    bool Append(std::string_view line);

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::uintmax_t limitBytes_;
};
