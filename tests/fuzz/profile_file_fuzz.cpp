// libFuzzer target for the settings reader and writer. An input is a file's content, then a
// section, a key and a value, separated by \x01 bytes. Whatever the bytes, nothing may crash,
// a value written must read back (without its surrounding blanks and quotes), and no other
// line of the file may change.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile_file.h"

namespace {

std::vector<std::string_view> Fields(std::string_view input) {
    std::vector<std::string_view> fields;
    for (int i = 0; i < 3; ++i) {
        std::size_t cut = input.find('\x01');
        if (cut == std::string_view::npos) {
            break;
        }
        fields.push_back(input.substr(0, cut));
        input.remove_prefix(cut + 1);
    }
    fields.push_back(input);
    while (fields.size() < 4) {
        fields.emplace_back("k");
    }
    return fields;
}

std::vector<std::string> LineTexts(std::string_view content) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        lines.push_back(current);
    }
    return lines;
}

std::string_view Expected(std::string_view value) {
    std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value.substr(0, 749);
}

std::string Slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// The one file every input is written to, removed when the fuzzer ends.
struct ScratchFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("beamclock-fuzz-" + std::to_string(getpid()));
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFile scratch;
    const std::filesystem::path& file = scratch.path;
    std::vector<std::string_view> fields =
        Fields(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string_view content = fields[0], section = fields[1], key = fields[2], value = fields[3];
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(content.data(), static_cast<std::streamsize>(content.size()));

    ReadProfileString(file, section, key, "default", 750);
    ReadProfileSection(file, section);
    if (!WriteProfileString(file, section, key, value)) {
        Check(Slurp(file) == content);
        return 0;
    }
    Check(ReadProfileString(file, section, key, "\x02", 750) == Expected(value));

    // Every old line is still there, in order, but for at most the one that held the key.
    std::vector<std::string> before = LineTexts(content), after = LineTexts(Slurp(file));
    std::size_t next = 0, missing = 0;
    for (const std::string& line : before) {
        std::size_t found = next;
        while (found < after.size() && after[found] != line) {
            ++found;
        }
        if (found == after.size()) {
            ++missing;
        } else {
            next = found + 1;
        }
    }
    Check(missing <= 1);
    Check(after.size() <= before.size() + 3);
    return 0;
}
