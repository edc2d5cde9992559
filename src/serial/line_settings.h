#pragma once

#include <optional>
#include <string_view>

// What the emitter takes: 9600 baud, no parity, 8 data bits, 1 stop bit.
inline constexpr std::string_view kLineSettings = "9600,n,8,1";

enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int baud = 9600;
    char parity = 'n';  // n, e, o, m or s: none, even, odd, mark, space
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Parses the line settings: "baud,parity,data bits,stop bits". Nothing when the text is not
// four valid fields.
std::optional<LineSettings> ParseLineSettings(std::string_view text);
