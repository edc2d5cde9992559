#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "log/log_line.h"

// The words for a device that is not there: what a vanished device stays until it is back, so
// a port that keeps failing for this reason is "still missing".
inline constexpr const char kNoSuchDevice[] = "no such device";
// The start of the words for a device another program holds.
inline constexpr const char kHeldByAnother[] = "held by another program";

// Why a port that was open is open no more.
enum class PortLoss { Vanished, HungUp, WriteFailed };

// The program's record of what changed: one call where each thing happens, one line for each
// change of state and only then. What lasts (a port gone for a week) is remembered here, so a
// caller may report the same failure every two seconds and the log still says it once, then
// at most once an hour, then once when it is over.
class EventLog {
  public:
    using WallMilliseconds = std::function<std::int64_t()>;
    using Output = std::function<void(Priority, std::string_view, std::int64_t)>;

    explicit EventLog(WallMilliseconds now = SystemMilliseconds);

    // Where the lines go; until it is set, nowhere (tests and tools say nothing).
    void SetOutput(Output output) { output_ = std::move(output); }

    void Started(std::string_view version, const std::filesystem::path& settingsFile,
                 std::string_view why, std::string_view port, bool utc);
    void PortOpened(int port, std::string_view device);
    // reason: why, in the caller's words; kNoSuchDevice for a device that is not there.
    void OpenFailed(int port, std::string_view device, std::string_view reason);
    void PortLost(int port, std::string_view device, PortLoss why);
    // The user let the port go (another entry, "None", the end): nothing more to remember.
    void PortClosed(int port);
    void SecondsNotSent(int count, std::int64_t lateMilliseconds);
    void ClockSet(std::int64_t stepMilliseconds);
    void PortChosen(std::string_view entry);
    void TimeChosen(bool utc);
    // The settings file exists but could not be read, so the defaults hold.
    void NotRead(const std::filesystem::path& file, std::string_view why);
    // file: the one the write went to; empty when there was none that may be written.
    void NotSaved(std::string_view key, std::string_view value, const std::filesystem::path& file);
    void ShowRequested();
    void Ended(std::string_view why);
    // Anything else worth a line: Qt's own messages, the missing display.
    void Message(Priority priority, std::string_view text);

    // Whether the clock is being set, in the log's words, for a status or a tip:
    // "sending local time to COM5 (/dev/ttyUSB0)", "COM5 (/dev/ttyUSB0): no such device since
    // 14:02:03, not sending", "no port chosen".
    std::string SendingState() const;
    // Not sending because of a fault, so the user should be told.
    bool Failing() const { return portState_ == PortState::Gone; }
    // The chosen port is open: packets go out.
    bool Sending() const { return portState_ == PortState::Open; }
    // When the port was lost or first failed to open, in wall-clock milliseconds.
    std::int64_t failingSince() const { return goneAt_; }

    static std::int64_t SystemMilliseconds();

  private:
    enum class PortState { Unknown, Open, Gone };

    void Say(Priority priority, const std::string& text);

    WallMilliseconds now_;
    Output output_;
    int port_ = 0;
    PortState portState_ = PortState::Unknown;
    std::string reason_;     // the last reason said for a port that is gone
    std::string lossWords_;  // what the state says of it
    std::string device_;
    std::int64_t goneAt_ = 0;
    std::int64_t lastSaidAt_ = 0;
    std::optional<bool> utc_;
    bool ended_ = false;
};

// The program's one log.
EventLog& Log();
