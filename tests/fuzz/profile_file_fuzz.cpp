// libFuzzer target for the settings reader and writer. An input is a file's content, then a
// section, a key and a value, separated by \x01 bytes. Whatever the bytes, nothing may crash,
// a value written must read back (without its surrounding blanks and quotes), and no other
// line of the file may change.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile_file.h"
#include "settings/text_encoding.h"

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

// The file's lines, each with its own line end ("\r\n", "\n", "\r" or none).
std::vector<std::string> Lines(std::string_view content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' || content[i] == '\n') {
            if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
                ++i;
            }
            lines.emplace_back(content.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < content.size()) {
        lines.emplace_back(content.substr(start));
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

// Reports which promise broke, with the line, before the fuzzer records the input.
void Check(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "broken promise at line %d\n", line);
        std::abort();
    }
}
#define CHECK(condition) Check((condition), __LINE__)

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
        CHECK(Slurp(file) == content);
        return 0;
    }
    CHECK(ReadProfileString(file, section, key, "\x02", 750) == Expected(value));

    // A UTF-16LE file stays one, and its lines are compared as the writer sees them.
    std::optional<DecodedText> was = DecodeText(std::string(content)), is = DecodeText(Slurp(file));
    CHECK(was && is && was->encoding == is->encoding);

    // The files agree but for one stretch: at most one old line (the key's, or an unterminated
    // last line that gained its line end) gave way to at most four new ones (that line, a
    // blank line, a section header and the key).
    std::vector<std::string> before = Lines(was->text), after = Lines(is->text);
    std::size_t same = 0;
    while (same < before.size() && same < after.size() && before[same] == after[same]) {
        ++same;
    }
    std::size_t sameAtEnd = 0;
    while (sameAtEnd < before.size() - same && sameAtEnd < after.size() - same &&
           before[before.size() - 1 - sameAtEnd] == after[after.size() - 1 - sameAtEnd]) {
        ++sameAtEnd;
    }
    CHECK(before.size() - same - sameAtEnd <= 1);
    CHECK(after.size() - same - sameAtEnd <= 4);
    return 0;
}
