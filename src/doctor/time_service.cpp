#include "doctor/time_service.h"

#include <sstream>

namespace {

std::string Trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string{} : text.substr(first, last - first + 1);
}

constexpr const char* kUnsynchronised =
    "; the wall clock is set to whatever this computer shows, right or not";

}  // namespace

TimeServiceStatus ParseW32tmStatus(const std::string& output) {
    TimeServiceStatus status;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = Trimmed(line.substr(0, colon));
        if (key == "Last Successful Sync Time") {
            status.lastSync = Trimmed(line.substr(colon + 1));
        } else if (key == "Source") {
            status.source = Trimmed(line.substr(colon + 1));
        }
    }
    return status;
}

void CheckTimeService(const TimeService& service, Report& report) {
    const char* subject = "synchronised";
    if (!service.installed) {
        report.Add("clock", subject, Level::Note,
                   std::string("no: Windows Time (w32time) is not installed") + kUnsynchronised);
        return;
    }
    std::string how = "Windows Time is " +
                      (service.state.empty() ? "in a state unknown" : service.state) +
                      (service.startType.empty() ? "" : " (start: " + service.startType + ")");
    if (service.type == "NoSync") {
        report.Add("clock", subject, Level::Note,
                   "no: " + how + ", set not to synchronise (Type NoSync)" + kUnsynchronised);
        return;
    }
    std::string from = service.type == "NT5DS"  ? "the domain's time"
                       : service.server.empty() ? "no server named"
                                                : service.server;
    if (service.state != "running") {
        bool disabled = service.startType == "disabled";
        report.Add("clock", subject, Level::Note,
                   (disabled ? "no: " : "not now: ") + how + ", to synchronise with " + from +
                       (disabled ? kUnsynchronised
                                 : "; Windows starts it now and then (at start-up, on a network "
                                   "change or once a week), in between the clock runs free"));
        return;
    }
    std::string last =
        "its last synchronisation cannot be read (w32tm /query /status gave no "
        "answer)";
    Level level = Level::Ok;
    if (service.status) {
        TimeServiceStatus status = ParseW32tmStatus(*service.status);
        if (status.lastSync.empty()) {
            last = "w32tm /query /status does not say when it last synchronised";
        } else if (status.lastSync == "unspecified") {
            last = "it has not synchronised yet";
            level = Level::Note;
        } else if (status.source == "Local CMOS Clock" ||
                   status.source == "Free-running System Clock") {
            last = "but its source is the " + status.source + ", which is no time source";
            level = Level::Note;
        } else {
            last = "last synchronised " + status.lastSync +
                   (status.source.empty() ? "" : " from " + status.source);
        }
    }
    report.Add("clock", subject, level,
               (level == Level::Ok ? "yes: " : "not yet: ") + how + ", to synchronise with " +
                   from + "; " + last);
}
