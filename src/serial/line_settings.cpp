#include "serial/line_settings.h"

#include <charconv>
#include <vector>

namespace {

std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
    std::vector<std::string_view> fields = SplitFields(text);
    if (fields.size() != 4) {
        return std::nullopt;
    }
    LineSettings settings;

    std::optional<int> baud = WholeNumber(fields[0]);
    if (!baud || *baud < 50 || *baud > 4000000) {
        return std::nullopt;
    }
    settings.baud = *baud;

    if (fields[1].size() != 1) {
        return std::nullopt;
    }
    char parity = fields[1][0];
    if (parity >= 'A' && parity <= 'Z') {
        parity = static_cast<char>(parity - 'A' + 'a');
    }
    if (std::string_view("neoms").find(parity) == std::string_view::npos) {
        return std::nullopt;
    }
    settings.parity = parity;

    std::optional<int> dataBits = WholeNumber(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8) {
        return std::nullopt;
    }
    settings.dataBits = *dataBits;

    if (fields[3] == "1") {
        settings.stopBits = StopBits::One;
    } else if (fields[3] == "1.5") {
        settings.stopBits = StopBits::OneAndHalf;
    } else if (fields[3] == "2") {
        settings.stopBits = StopBits::Two;
    } else {
        return std::nullopt;
    }
    return settings;
}
