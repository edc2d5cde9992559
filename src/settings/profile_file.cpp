#include "settings/profile_file.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "settings/ascii_case.h"
#include "system/durable_file.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

struct Line {
    std::string_view text;
    std::string_view end;  // "\r\n", "\n", "\r", or empty on an unterminated last line
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    // Files can be megabytes: size the list once, and look for line ends with a plain loop
    // (find_first_of searches its set once for every character).
    lines.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1);
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        std::size_t endLength =
            (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
        lines.push_back({content.substr(start, i - start), content.substr(i, endLength)});
        i += endLength - 1;
        start = i + 1;
    }
    if (start < content.size()) {
        lines.push_back({content.substr(start), {}});
    }
    return lines;
}

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::optional<std::string_view> SectionName(std::string_view line) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(text.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';') {
        return std::nullopt;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

// Where a key lives in a file: the first matching section, and the first matching key in it.
struct Location {
    std::optional<std::size_t> section;  // index of the section's header line
    std::optional<std::size_t> key;      // index of the key's line
    std::size_t lastContent = 0;         // last non-blank line of the section
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i].text)) {
            if (where.section) {
                break;  // left the first matching section
            }
            if (SameIgnoringCase(*name, section)) {
                where.section = i;
                where.lastContent = i;
            }
            continue;
        }
        if (!where.section) {
            continue;
        }
        if (!Trim(lines[i].text).empty()) {
            where.lastContent = i;
        }
        if (auto keyLine = ParseKeyLine(lines[i].text);
            keyLine && !where.key && SameIgnoringCase(keyLine->key, key)) {
            where.key = i;
        }
    }
    return where;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string_view WithoutBom(std::string_view content) {
    if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        content.remove_prefix(kUtf8Bom.size());
    }
    return content;
}

bool BreaksLayout(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Whether the names and the value can be written so that a read finds them again: no line
// breaks or NULs, a key that is no comment or section line and holds no "=", names without
// surrounding blanks, and a section name without "]".
bool FitsTheLayout(std::string_view section, std::string_view key, std::string_view value) {
    return !BreaksLayout(section) && !BreaksLayout(key) && !BreaksLayout(value) && !key.empty() &&
           Trim(key) == key && key.find('=') == std::string_view::npos && key.front() != '[' &&
           key.front() != ';' && Trim(section) == section &&
           section.find(']') == std::string_view::npos;
}

std::string_view LineEndOf(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
}

std::string WithKey(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value) {
    std::string_view bom = content.substr(0, content.size() - WithoutBom(content).size());
    std::vector<Line> lines = SplitLines(WithoutBom(content));
    std::string_view eol = LineEndOf(lines);
    Location where = Find(lines, section, key);
    std::string keyLine = std::string(key) + "=" + std::string(value);

    std::string out(bom);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (where.key && i == *where.key) {
            // Keep the name as it stands in the file; only the value changes.
            out += std::string(ParseKeyLine(lines[i].text)->key) + "=" + std::string(value);
            out += lines[i].end;
            continue;
        }
        out += lines[i].text;
        out += lines[i].end;
        if (where.section && !where.key && i == where.lastContent) {
            if (lines[i].end.empty()) {
                out += eol;
            }
            out += keyLine;
            out += eol;
        }
    }
    if (!where.section) {
        if (!lines.empty() && lines.back().end.empty()) {
            out += eol;
        }
        if (!lines.empty() && !Trim(lines.back().text).empty()) {
            out += eol;  // a blank line between sections
        }
        out += '[';
        out += section;
        out += ']';
        out += eol;
        out += keyLine;
        out += eol;
    }
    return out;
}

// The file's bytes whatever their encoding; otherwise as LoadProfileFile.
std::optional<std::string> LoadBytes(const fs::path& file, std::string* why) {
    auto fail = [why](std::string reason) -> std::optional<std::string> {
        if (why) {
            reason[0] = LowerAscii(reason[0]);  // the system's "Permission denied" mid-line
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    std::error_code error;
    fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) {
        return std::string();
    }
    if (error) {
        return fail(error.message());
    }
    if (status.type() != fs::file_type::regular) {
        return fail("it is not a plain file");
    }
    std::uintmax_t size = fs::file_size(file, error);
    if (error) {
        return fail(error.message());
    }
    if (size > kMaxProfileFileBytes) {
        return fail("it is larger than 64 MiB");
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return fail(errno != 0 ? std::generic_category().message(errno) : "it cannot be opened");
    }
    std::string content(static_cast<std::size_t>(size), '\0');
    in.read(content.data(), static_cast<std::streamsize>(size));
    if (in.bad()) {
        return fail("a read failed");
    }
    content.resize(static_cast<std::size_t>(in.gcount()));  // it may have shrunk meanwhile
    return content;
}

}  // namespace

std::optional<DecodedText> LoadProfileText(const fs::path& file, std::string* why) {
    std::optional<std::string> bytes = LoadBytes(file, why);
    if (!bytes) {
        return std::nullopt;
    }
    return DecodeText(std::move(*bytes), why);
}

std::optional<std::string> LoadProfileFile(const fs::path& file, std::string* why) {
    std::optional<std::string> bytes = LoadBytes(file, why);
    if (!bytes || !DecodeText(*bytes, why)) {
        return std::nullopt;
    }
    return bytes;
}

std::string ReadProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize) {
    std::string_view value = defaultValue;
    std::optional<DecodedText> content = LoadProfileText(file);
    std::vector<Line> lines;
    if (content) {
        lines = SplitLines(WithoutBom(content->text));
        Location where = Find(lines, section, key);
        if (where.key) {
            value = Unquote(ParseKeyLine(lines[*where.key].text)->value);
            value = value.substr(0, value.find('\0'));
        }
    }
    std::size_t room = bufferSize == 0 ? 0 : bufferSize - 1;
    return std::string(value.substr(0, room));
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(const fs::path& file,
                                                                    std::string_view section) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::optional<DecodedText> content = LoadProfileText(file);
    if (!content) {
        return entries;
    }
    std::vector<Line> lines = SplitLines(WithoutBom(content->text));
    Location where = Find(lines, section, {});
    if (!where.section) {
        return entries;
    }
    for (std::size_t i = *where.section + 1; i <= where.lastContent; ++i) {
        if (auto keyLine = ParseKeyLine(lines[i].text)) {
            std::string_view value = Unquote(keyLine->value);
            entries.emplace_back(keyLine->key, value.substr(0, value.find('\0')));
        }
    }
    return entries;
}

std::vector<std::string> ReadProfileSectionNames(const fs::path& file) {
    std::vector<std::string> names;
    if (std::optional<DecodedText> content = LoadProfileText(file)) {
        for (const Line& line : SplitLines(WithoutBom(content->text))) {
            if (auto name = SectionName(line.text)) {
                names.emplace_back(*name);
            }
        }
    }
    return names;
}

bool ReplaceProfileFile(const fs::path& file, std::string_view content) {
    return ReplaceFileDurably(FollowLinks(file), content);
}

std::string WhyProfileUnreadable(const fs::path& file) {
    std::string why;
    LoadProfileText(file, &why);
    return why;
}

bool WriteProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    if (!FitsTheLayout(section, key, value)) {
        return false;
    }
    fs::path target = FollowLinks(file);
    std::optional<DecodedText> content = LoadProfileText(target);
    if (!content) {
        return false;
    }
    std::string updated = WithKey(content->text, section, key, value);
    if (updated == content->text) {
        return true;  // nothing to change: leave the file as it is
    }
    // Encoded here, so that the replace and the rewrite in place both keep the file's encoding.
    std::optional<std::string> bytes = EncodeText(std::move(updated), content->encoding);
    return bytes && ReplaceFileDurably(target, *bytes);
}
