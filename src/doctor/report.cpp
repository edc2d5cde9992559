#include "doctor/report.h"

#include <cstdio>

#include "version.h"

namespace {

const char* LevelName(Level level) {
    switch (level) {
        case Level::Ok:
            return "ok";
        case Level::Info:
            return "info";
        case Level::Note:
            return "note";
        case Level::Problem:
            return "problem";
    }
    return "";
}

// How many bytes the well-formed UTF-8 sequence at text[at] takes, or 0 when there is none
// (a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (lead > 0xf4 || length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) {
            return 0;
        }
    }
    unsigned char second = byte(at + 1);
    bool overlong = (lead == 0xe0 && second < 0xa0) || (lead == 0xf0 && second < 0x90);
    bool outOfRange = (lead == 0xed && second >= 0xa0) || (lead == 0xf4 && second >= 0x90);
    return overlong || outOfRange ? 0 : length;
}

// U+0080 to U+009F: well-formed UTF-8, yet a terminal may take U+009B for the start of an
// escape code, as it takes ESC [.
bool IsC1Control(const std::string& text, std::size_t at) {
    return static_cast<unsigned char>(text[at]) == 0xc2 && at + 1 < text.size() &&
           static_cast<unsigned char>(text[at + 1]) < 0xa0;
}

}  // namespace

void Report::Add(std::string section, std::string subject, Level level, std::string text) {
    findings_.push_back({std::move(section), std::move(subject), level, std::move(text)});
}

bool Report::HasProblem() const {
    for (const Finding& finding : findings_) {
        if (finding.level == Level::Problem) {
            return true;
        }
    }
    return false;
}

std::string Report::AsText() const {
    std::string out;
    std::string section;
    for (const Finding& finding : findings_) {
        if (finding.section != section) {
            section = finding.section;
            out += (out.empty() ? "" : "\n") + TerminalText(section) + "\n";
        }
        char label[16];
        std::snprintf(label, sizeof label, "%-8s", LevelName(finding.level));
        out += "  " + std::string(label) + TerminalText(finding.subject) + ": " +
               TerminalText(finding.text) + "\n";
    }
    if (!events_.empty()) {
        out += "\n";
        for (const std::string& line : events_) {
            out += "    " + TerminalText(line) + "\n";
        }
    }
    out += HasProblem()
               ? "\nBeamclock cannot set the clock as configured: see the problems above.\n"
               : "\nBeamclock can set the clock as configured.\n";
    return out;
}

std::string TerminalText(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        std::size_t length = c >= 0x80 && !IsC1Control(text, at) ? Utf8Length(text, at) : 0;
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else if (length > 0) {
            out.append(text, at, length);
            at += length;
            continue;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
        ++at;
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            out += {'\\', static_cast<char>(c)};
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else if (IsC1Control(text, at)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x",
                          static_cast<unsigned char>(text[at + 1]));
            out += escaped;
            at += 2;
            continue;
        } else if (std::size_t length = c >= 0x80 ? Utf8Length(text, at) : 0) {
            out.append(text, at, length);  // a path like /srv/Übersicht stays as it reads
            at += length;
            continue;
        } else {
            // Control characters, and bytes from a file that are not UTF-8 (read as Latin-1,
            // so the JSON stays valid and the byte can still be told).
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        ++at;
    }
    return out + "\"";
}

std::string Report::AsJson() const {
    std::string out = "{\"version\": " + JsonString(kVersion) +
                      ", \"ok\": " + (HasProblem() ? "false" : "true") + ", \"findings\": [";
    for (std::size_t i = 0; i < findings_.size(); ++i) {
        const Finding& finding = findings_[i];
        out += std::string(i == 0 ? "\n" : ",\n") +
               "  {\"section\": " + JsonString(finding.section) +
               ", \"subject\": " + JsonString(finding.subject) +
               ", \"level\": " + JsonString(LevelName(finding.level)) +
               ", \"text\": " + JsonString(finding.text) + "}";
    }
    out += "\n], \"recent_events\": [";
    for (std::size_t i = 0; i < events_.size(); ++i) {
        out += std::string(i == 0 ? "\n  " : ",\n  ") + JsonString(events_[i]);
    }
    return out + "\n]}\n";
}
