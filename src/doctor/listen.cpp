#include "doctor/listen.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

#include "clock/packet.h"
#include "doctor/listen_line.h"
#include "doctor/report.h"
#include "system/wall_clock.h"

namespace {

// The C runtime's timegm, under its name on each system.
std::time_t UtcInstant(std::tm& fields) {
#ifdef _WIN32
    return _mkgmtime(&fields);
#else
    return ::timegm(&fields);
#endif
}

volatile std::sig_atomic_t stopAsked = 0;

extern "C" void AskToStop(int) {
    stopAsked = 1;
}

// Ctrl-C, or a kill from a script, ends the listening as its time running out would: with the
// summary, and the line's settings put back. The signals' old handlers come back afterwards.
class StopOnSignals {
  public:
    StopOnSignals() {
        stopAsked = 0;
        for (std::size_t i = 0; i < kCount; ++i) {
            old_[i] = std::signal(kSignals[i], AskToStop);
        }
    }
    ~StopOnSignals() {
        for (std::size_t i = 0; i < kCount; ++i) {
            std::signal(kSignals[i], old_[i]);
        }
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
#ifdef _WIN32
    static constexpr int kSignals[] = {SIGINT, SIGBREAK};
#else
    // SIGPIPE too: a pipe into head, or an ssh session that drops, ends it the same way.
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
#endif
    static constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];
    void (*old_[kCount])(int) = {};
};

double WallSeconds() {
    WallTime now = WallClockNow();
    return static_cast<double>(now.seconds) + static_cast<double>(now.nanoseconds) / 1e9;
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

std::string ClockText(double instant) {
    auto whole = static_cast<std::int64_t>(std::floor(instant));
    std::tm fields = LocalFields(whole);
    char text[48];
    std::strftime(text, sizeof text, "%H:%M:%S", &fields);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d",
                  static_cast<int>((instant - static_cast<double>(whole)) * 1000));
    return std::string(text) + millis;
}

std::string EventLine(const PacketStream::Event& event) {
    std::string line = ClockText(event.arrival) + "  " + Printable(event.bytes) + "  ";
    if (!event.isPacket) {
        return line + "not a packet (" + std::to_string(event.bytes.size()) + " bytes)";
    }
    if (!event.error.empty()) {
        return line + "malformed: " + event.error;
    }
    char lateness[64];
    std::snprintf(lateness, sizeof lateness, "%.1f ms", event.latenessMs);
    return line + event.reference + " time, first byte " + lateness + " after its second" +
           (event.namedSecond % 2 != 0 ? ", an odd second" : "") +
           (event.latenessMs > kLatestFirstByteMs ? ", late" : "");
}

}  // namespace

PacketStream::Event PacketStream::Judge(const std::string& packet, double arrival) const {
    Event event;
    event.arrival = arrival;
    event.bytes = packet;
    event.isPacket = true;
    ParsedPacket parsed = ParseClockPacket(packet);
    if (!parsed.value) {
        event.error = parsed.error;
        return event;
    }
    std::tm asUtc = CalendarFields(*parsed.value);
    std::tm asLocal = CalendarFields(*parsed.value);
    double utc = static_cast<double>(UtcInstant(asUtc));
    double local = static_cast<double>(std::mktime(&asLocal));
    bool isLocal = std::fabs(arrival - local) <= std::fabs(arrival - utc);
    event.reference = isLocal ? "local" : "UTC";
    double named = isLocal ? local : utc;
    event.namedSecond = static_cast<long>(named);
    event.latenessMs = (arrival - named) * 1000.0;
    if (std::fabs(event.latenessMs) > 30'000) {
        event.reference = "neither local nor UTC";
    }
    return event;
}

std::vector<PacketStream::Event> PacketStream::Feed(std::string_view bytes, double arrival) {
    std::vector<Event> events;
    for (char c : bytes) {
        // A "*" starts a packet: what came before it is shown as it is (stray bytes, or a
        // packet cut short), and so is a run of bytes without a "*" once it is packet-long.
        bool strayRunIsLong =
            !pending_.empty() && pending_.front() != '*' && pending_.size() == kPacketLength;
        if (!pending_.empty() && (c == '*' || strayRunIsLong)) {
            events.push_back({pendingSince_, pending_, false, {}, {}, 0, 0});
            pending_.clear();
        }
        if (pending_.empty()) {
            pendingSince_ = arrival;
        }
        pending_ += c;
        if (pending_.front() == '*' && pending_.size() == kPacketLength) {
            events.push_back(Judge(pending_, pendingSince_));
            pending_.clear();
        }
    }
    return events;
}

std::vector<PacketStream::Event> PacketStream::Finish() {
    std::vector<Event> events;
    if (!pending_.empty()) {
        events.push_back({pendingSince_, pending_, false, {}, {}, 0, 0});
        pending_.clear();
    }
    return events;
}

bool ListenSummary::Healthy() const {
    return packets > 0 && malformed == 0 && missed == 0 && doubled == 0 && oddSeconds == 0 &&
           late == 0 && neither == 0;
}

ListenSummary Summarise(const std::vector<PacketStream::Event>& events, double started,
                        double ended) {
    ListenSummary summary;
    std::vector<double> lateness;
    std::map<long, int> seen;
    for (const auto& event : events) {
        if (!event.isPacket) {
            ++summary.notPackets;
        } else if (!event.error.empty()) {
            ++summary.malformed;
        } else {
            ++summary.packets;
            if (event.reference != "local" && event.reference != "UTC") {
                ++summary.neither;  // it names no second of this listening: no lateness either
                continue;
            }
            lateness.push_back(event.latenessMs);
            summary.late += event.latenessMs > kLatestFirstByteMs;
            summary.oddSeconds += event.namedSecond % 2 != 0;
            summary.doubled += ++seen[event.namedSecond] > 1;
        }
    }
    double listened = ended - started;
    summary.perMinute = listened > 0 ? summary.packets * 60.0 / listened : 0;
    // Only the seconds the PC clock passed while listening: a packet naming a far-off date
    // neither widens this nor makes it long.
    long first = static_cast<long>(std::ceil(started));
    first += first % 2 != 0;
    for (long second = first; second + kLatestFirstByteMs / 1000 <= ended; second += 2) {
        summary.missed += seen.find(second) == seen.end();
    }
    if (!lateness.empty()) {
        std::sort(lateness.begin(), lateness.end());
        std::size_t middle = lateness.size() / 2;
        summary.medianMs =
            lateness.size() % 2 ? lateness[middle] : (lateness[middle - 1] + lateness[middle]) / 2;
        summary.largestMs = lateness.back();
    }
    return summary;
}

int Listen(const std::string& device, double seconds, bool json) {
    StopOnSignals stopOnSignals;  // before the line is set raw: no moment it could stay so
    std::string error;
    std::unique_ptr<ListenLine> line = ListenLine::Open(device, error);
    if (!line) {
        std::fprintf(stderr, "beamclock-doctor: cannot listen on %s: %s\n", device.c_str(),
                     error.c_str());
        return 2;
    }
    if (!json) {
        std::printf("Listening on %s at 9600 8N1 for %g s\n", device.c_str(), seconds);
        std::fflush(stdout);
    }
    PacketStream stream;
    std::vector<PacketStream::Event> events;
    auto keep = [&](std::vector<PacketStream::Event> more) {
        for (auto& event : more) {
            if (!json) {
                std::printf("%s\n", EventLine(event).c_str());
                std::fflush(stdout);
            }
            events.push_back(std::move(event));
        }
    };
    double started = WallSeconds();
    double until = started + seconds;
    for (double now = started; now < until && !stopAsked; now = WallSeconds()) {
        int waitMs = static_cast<int>(std::ceil((until - now) * 1000));
        std::string bytes = line->Read(std::min(waitMs, 1000));
        double arrival = WallSeconds();  // as close to the wake-up as it can be taken
        if (!bytes.empty()) {
            keep(stream.Feed(bytes, arrival));
        }
    }
    double ended = WallSeconds();
    char stopped[64];
    std::snprintf(stopped, sizeof stopped, "Stopped after %.1f s", ended - started);
    if (stopAsked && !json) {
        std::printf("%s\n", stopped);
    }
    keep(stream.Finish());
    line.reset();

    ListenSummary summary = Summarise(events, started, ended);
    char figures[400];
    std::snprintf(figures, sizeof figures,
                  "%d packets (%.1f a minute), %d even seconds missed, %d sent twice, "
                  "%d malformed, %d on an odd second, %d late (first byte over %.0f ms after "
                  "its second), %d neither local time nor UTC, %d runs of bytes that are not "
                  "packets",
                  summary.packets, summary.perMinute, summary.missed, summary.doubled,
                  summary.malformed, summary.oddSeconds, summary.late, kLatestFirstByteMs,
                  summary.neither, summary.notPackets);
    std::string lateness = "no lateness measured";
    if (summary.medianMs) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "first byte after its second: median %.1f ms, largest %.1f ms",
                      *summary.medianMs, *summary.largestMs);
        lateness = text;
    }
    bool healthy = summary.Healthy();
    if (json) {
        Report report;
        for (const auto& event : events) {
            bool fine = event.isPacket && event.error.empty() &&
                        event.reference.find("neither") == std::string::npos &&
                        event.namedSecond % 2 == 0 && event.latenessMs <= kLatestFirstByteMs;
            report.Add("listen", ClockText(event.arrival), fine ? Level::Ok : Level::Problem,
                       EventLine(event));
        }
        report.Add("listen", "summary", healthy ? Level::Ok : Level::Problem, figures);
        report.Add("listen", "lateness", Level::Ok, lateness);
        if (stopAsked) {
            report.Add("listen", "stopped", Level::Note, stopped);
        }
        std::fputs(report.AsJson().c_str(), stdout);
    } else {
        std::printf("\n%s\n%s\n", figures, lateness.c_str());
    }
    return healthy ? 0 : 1;
}
