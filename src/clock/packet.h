#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "clock/calendar.h"

// The message the infrared clock decodes. Always exactly kPacketLength ASCII characters.
using ClockPacket = std::string;

inline constexpr std::size_t kPacketLength = 35;
inline constexpr std::string_view kPacketTail = "0000000001000000000#";

// timeText is "hh:mm:ss", dateText "mm-dd-yyyy"; fields are cut out by position, unconverted.
ClockPacket BuildLocalPacket(std::string_view timeText, std::string_view dateText);

// The calendar value is already in UTC.
ClockPacket BuildUtcPacket(const CalendarValue& utc);

struct ParsedPacket {
    std::optional<CalendarValue> value;  // set when the packet is well formed
    std::string error;                   // why it is not, otherwise
};

// The reverse of the builders, for tools and tests: checks the whole layout.
ParsedPacket ParseClockPacket(std::string_view packet);
