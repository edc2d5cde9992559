#include "log/log_file.h"

#include <cstdio>
#include <system_error>

#include "system/user_places.h"

namespace fs = std::filesystem;

fs::path LogFilePath() {
    fs::path home = UserStateHome();
    return home.empty() ? fs::path() : home / kProgramFolder / "beamclock.log";
}

LogFile::LogFile(fs::path path, std::uintmax_t limitBytes)
    : path_(std::move(path)), limitBytes_(limitBytes) {}

bool LogFile::Append(std::string_view line) {
    if (path_.empty()) {
        return false;
    }
    std::error_code error;
    std::uintmax_t size = fs::file_size(path_, error);
    if (!error && size + line.size() + 1 > limitBytes_ && size > 0) {
        fs::path old = path_;
        old += ".1";
        fs::rename(path_, old, error);
    } else if (error) {
        fs::create_directories(path_.parent_path(), error);
    }
    // Opened for each line: a file removed or rotated by hand is simply begun again, and
    // nothing is held open across the tick.
#ifdef _WIN32
    std::FILE* file = ::_wfopen(path_.c_str(), L"ab");
#else
    std::FILE* file = std::fopen(path_.c_str(), "ab");
#endif
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
                   std::fputc('\n', file) != EOF;
    return std::fclose(file) == 0 && written;
}
