#pragma once

#include <optional>
#include <string_view>

enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int baud = 9600;
    char parity = 'n';  // n, e, o, m or s: none, even, odd, mark, space
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Parses "9600,n,8,1". Nothing when the text is not four valid fields.
std::optional<LineSettings> ParseLineSettings(std::string_view text);
