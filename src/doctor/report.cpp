#include "doctor/report.h"

#include <cstdio>

#include "doctor/version.h"

namespace {

const char* LevelName(Level level) {
    switch (level) {
        case Level::Ok:
            return "ok";
        case Level::Note:
            return "note";
        case Level::Problem:
            return "problem";
    }
    return "";
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
            out += (out.empty() ? "" : "\n") + section + "\n";
        }
        char label[16];
        std::snprintf(label, sizeof label, "%-8s", LevelName(finding.level));
        out += "  " + std::string(label) + finding.subject + ": " + finding.text + "\n";
    }
    out += HasProblem()
               ? "\nBeamclock cannot set the clock as configured: see the problems above.\n"
               : "\nBeamclock can set the clock as configured.\n";
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (c < 0x20 || c >= 0x7f) {  // bytes from a file need not be UTF-8
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string Report::AsJson() const {
    std::string out = "{\"version\": " + JsonString(kDoctorVersion) +
                      ", \"ok\": " + (HasProblem() ? "false" : "true") + ", \"findings\": [";
    for (std::size_t i = 0; i < findings_.size(); ++i) {
        const Finding& finding = findings_[i];
        out += std::string(i == 0 ? "\n" : ",\n") +
               "  {\"section\": " + JsonString(finding.section) +
               ", \"subject\": " + JsonString(finding.subject) +
               ", \"level\": " + JsonString(LevelName(finding.level)) +
               ", \"text\": " + JsonString(finding.text) + "}";
    }
    return out + "\n]}\n";
}
