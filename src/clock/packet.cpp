#include "clock/packet.h"

#include <cctype>

namespace {

// Characters [first, first + length) of a text, counted from 1; missing ones read as '0' so a
// malformed clock text can never produce a packet of the wrong length.
std::string Cut(std::string_view text, std::size_t first, std::size_t length) {
    std::string field(length, '0');
    for (std::size_t i = 0; i < length; ++i) {
        std::size_t at = first - 1 + i;
        if (at < text.size()) {
            field[i] = text[at];
        }
    }
    return field;
}

// The decimal number padded on the left to width, keeping only its last width characters.
std::string PadLeft(int number, std::size_t width, char pad) {
    std::string digits = std::to_string(number);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), pad);
    }
    return digits.substr(digits.size() - width);
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

int Number(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

ClockPacket BuildLocalPacket(std::string_view timeText, std::string_view dateText) {
    ClockPacket packet = "*";
    packet += Cut(timeText, 7, 2);
    packet += Cut(timeText, 4, 2);
    packet += Cut(timeText, 1, 2);
    packet += Cut(dateText, 4, 2);
    packet += Cut(dateText, 1, 2);
    packet += Cut(dateText, 7, 4);
    packet += kPacketTail;
    return packet;
}

ClockPacket BuildUtcPacket(const CalendarValue& utc) {
    ClockPacket packet = "*";
    packet += PadLeft(utc.second, 2, '0');
    packet += PadLeft(utc.minute, 2, '0');
    packet += PadLeft(utc.hour, 2, '0');
    packet += PadLeft(utc.day, 2, '0');
    packet += PadLeft(utc.month, 2, '0');
    packet += PadLeft(utc.year, 4, ' ');
    packet += kPacketTail;
    return packet;
}

ParsedPacket ParseClockPacket(std::string_view packet) {
    if (packet.size() != kPacketLength) {
        return {std::nullopt, "packet is " + std::to_string(packet.size()) + " bytes, not 35"};
    }
    if (packet.front() != '*') {
        return {std::nullopt, "packet does not start with '*'"};
    }
    if (packet.substr(15) != kPacketTail) {
        return {std::nullopt, "packet tail is not " + std::string(kPacketTail)};
    }
    std::string_view fields = packet.substr(1, 14);
    if (!AllDigits(fields)) {
        return {std::nullopt, "time and date fields must be digits"};
    }
    CalendarValue value;
    value.second = Number(fields.substr(0, 2));
    value.minute = Number(fields.substr(2, 2));
    value.hour = Number(fields.substr(4, 2));
    value.day = Number(fields.substr(6, 2));
    value.month = Number(fields.substr(8, 2));
    value.year = Number(fields.substr(10, 4));
    if (value.second > 59 || value.minute > 59 || value.hour > 23) {
        return {std::nullopt, "time of day out of range"};
    }
    if (value.day < 1 || value.day > 31 || value.month < 1 || value.month > 12) {
        return {std::nullopt, "date out of range"};
    }
    return {value, ""};
}
