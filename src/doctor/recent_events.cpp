#include "doctor/recent_events.h"

#include <deque>
#include <filesystem>
#include <fstream>

#include "log/log_file.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kNoLogFolder = "no log: LOCALAPPDATA is not set";
#else
constexpr const char* kNoLogFolder = "no log: neither XDG_STATE_HOME nor HOME is set";
#endif

}  // namespace

std::vector<std::string> LastLines(std::istream& in, std::size_t count) {
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
        last.push_back(line);
        if (last.size() > count) {
            last.pop_front();
        }
    }
    return {last.begin(), last.end()};
}

std::string TheLastLines(std::size_t count) {
    return count == 1 ? "the last line" : "the last " + std::to_string(count) + " lines";
}

void AddDesktopEvents(Report& report) {
    fs::path log = LogFilePath();
    std::ifstream in(log);
    if (log.empty() || !in) {
        report.Add(kRecentEventsSection, "log", Level::Note,
                   log.empty() ? kNoLogFolder
                               : log.string() +
                                     " is not there (nothing logged on this account "
                                     "yet) or cannot be read");
        return;
    }
    std::vector<std::string> lines = LastLines(in, kRecentEvents);
    report.Add(kRecentEventsSection, "log", Level::Ok,
               lines.empty() ? log.string() + " is empty"
                             : TheLastLines(lines.size()) + " of " + log.string());
    report.SetEvents(std::move(lines));
}
