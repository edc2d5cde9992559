#pragma once

#include <cstdint>
#include <optional>

// Whether the clock is being set, as the tray shows it.
enum class SendingLook {
    Sending,
    Failing,    // a port is chosen and cannot be had, or its writes fail
    NotChosen,  // "None": not sending, by the user's choice
};

// When the tray says it aloud. The icon and the tip follow the state at once; a notification
// comes only once the chosen port has been lost for a minute, since a device replugged or a
// program that held the port briefly is no news, and once more when it is back after that.
class TrayNotices {
  public:
    enum class Notice { Lost, Back };

    // Called on every look at the state, with a steady clock's milliseconds.
    std::optional<Notice> Check(SendingLook look, std::int64_t steadyMilliseconds);

    static constexpr std::int64_t kLostAfterMs = 60 * 1000;

  private:
    std::optional<std::int64_t> failingFrom_;
    bool toldLost_ = false;
};
