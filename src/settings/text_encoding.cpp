#include "settings/text_encoding.h"

#include <cstddef>
#include <string_view>
#include <utility>

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kUtf16LeMark = "\xFF\xFE"sv;

struct Mark {
    std::string_view bytes;
    std::string_view name;
};

// UTF-32LE's mark begins with UTF-16LE's, so these are looked for first.
constexpr Mark kUnreadableMarks[] = {
    {"\xFF\xFE\0\0"sv, "UTF-32LE"}, {"\0\0\xFE\xFF"sv, "UTF-32BE"}, {"\xFE\xFF"sv, "UTF-16BE"}};

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

char32_t UnitAt(std::string_view bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) |
           static_cast<char32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

void AppendUnit(std::string& bytes, char32_t unit) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
}

void AppendUtf8(std::string& text, char32_t c) {
    auto byte = [&text](char32_t bits) { text += static_cast<char>(bits); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | c >> 6);
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | c >> 12);
        byte(0x80 | (c >> 6 & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | c >> 18);
        byte(0x80 | (c >> 12 & 0x3F));
        byte(0x80 | (c >> 6 & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
}

// An even count of bytes of UTF-16LE as UTF-8; nothing when a surrogate lacks its other half.
std::optional<std::string> FromUtf16Le(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        char32_t c = UnitAt(bytes, at);
        if (IsHighSurrogate(c) && at + 2 < bytes.size() && IsLowSurrogate(UnitAt(bytes, at + 2))) {
            at += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + (UnitAt(bytes, at) - 0xDC00);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            return std::nullopt;
        }
        AppendUtf8(text, c);
    }
    return text;
}

// The length of the UTF-8 sequence that lead begins; 0 for a byte no sequence begins with.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2) {
        return 0;  // a continuation byte, or the start of an overlong form
    }
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
}

// UTF-8 as UTF-16LE with its mark; nothing for bytes that are not UTF-8.
std::optional<std::string> ToUtf16Le(std::string_view text) {
    std::string bytes(kUtf16LeMark);
    bytes.reserve(kUtf16LeMark.size() + text.size() * 2);
    for (std::size_t at = 0; at < text.size();) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = SequenceLength(lead);
        if (length == 0 || length > text.size() - at) {
            return std::nullopt;
        }
        char32_t c = length == 1 ? lead : static_cast<char32_t>(lead & (0x7F >> length));
        for (std::size_t i = 1; i < length; ++i) {
            auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            c = c << 6 | (next & 0x3F);
        }
        bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
        if (overlong || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) {
            return std::nullopt;
        }
        if (c >= 0x10000) {
            AppendUnit(bytes, 0xD800 + ((c - 0x10000) >> 10));
            AppendUnit(bytes, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            AppendUnit(bytes, c);
        }
        at += length;
    }
    return bytes;
}

}  // namespace

std::optional<DecodedText> DecodeText(std::string bytes, std::string* why) {
    auto refuse = [why](std::string reason) -> std::optional<DecodedText> {
        if (why) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    std::string_view view = bytes;
    for (const Mark& mark : kUnreadableMarks) {
        if (view.substr(0, mark.bytes.size()) == mark.bytes) {
            return refuse("it is " + std::string(mark.name) +
                          " text, which Beamclock does not read (save it as UTF-16 LE or UTF-8)");
        }
    }
    if (view.substr(0, kUtf16LeMark.size()) != kUtf16LeMark) {
        return DecodedText{std::move(bytes), TextEncoding::EightBit};
    }
    view.remove_prefix(kUtf16LeMark.size());
    if (view.size() % 2 != 0) {
        return refuse("it is UTF-16 text cut off in the middle of a character");
    }
    std::optional<std::string> text = FromUtf16Le(view);
    if (!text) {
        return refuse("it is UTF-16 text with a broken character (half a surrogate pair)");
    }
    return DecodedText{std::move(*text), TextEncoding::Utf16Le};
}

std::optional<std::string> EncodeText(std::string text, TextEncoding encoding) {
    if (encoding == TextEncoding::EightBit) {
        return text;
    }
    return ToUtf16Le(text);
}
