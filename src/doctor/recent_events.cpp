#include "doctor/recent_events.h"

#include <deque>
#include <filesystem>
#include <sstream>

#include "doctor/file_tail.h"
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
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // a CRLF line end is no part of what was logged
        }
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
    if (log.empty()) {
        report.Add(kRecentEventsSection, "log", Level::Note, kNoLogFolder);
        return;
    }
    // One byte more than is shown: whether the first of them begins a line.
    FileTail tail = ReadFileTail(log, kLogTailBytes + 1);
    if (tail.outcome == FileTail::Outcome::NotAFile) {
        report.Add(kRecentEventsSection, "log", Level::Note,
                   log.string() + " is not a log: it is " + tail.what);
        return;
    }
    if (tail.outcome == FileTail::Outcome::CannotOpen) {
        report.Add(
            kRecentEventsSection, "log", Level::Note,
            log.string() + " is not there (nothing logged on this account yet) or cannot be read");
        return;
    }
    // Read from the middle of the file, the first line is a piece of one.
    std::size_t firstLine = tail.cut ? tail.bytes.find('\n') : std::string::npos;
    std::istringstream in(firstLine == std::string::npos ? tail.bytes
                                                         : tail.bytes.substr(firstLine + 1));
    std::vector<std::string> lines = LastLines(in, kRecentEvents);
    if (tail.cut && (firstLine == std::string::npos || lines.empty())) {
        report.Add(kRecentEventsSection, "log", Level::Note,
                   "the last " + std::to_string(kLogTailBytes / 1024) + " KiB of " + log.string() +
                       " hold no whole line: it is no log as Beamclock writes one");
        return;
    }
    report.Add(kRecentEventsSection, "log", Level::Ok,
               lines.empty() ? log.string() + " is empty"
                             : TheLastLines(lines.size()) + " of " + log.string());
    report.SetEvents(std::move(lines));
}
