#include "doctor/listen.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

#include "clock/packet.h"
#include "doctor/listen_line.h"
#include "doctor/report.h"
#include "system/wall_clock.h"

namespace {

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
    std::size_t length = std::max(event.length, event.bytes.size());
    std::string line = ClockText(event.arrival) + "  " + Printable(event.bytes) +
                       (length > event.bytes.size() ? "...  " : "  ");
    if (!event.isPacket) {
        return line + "not a packet (" + std::to_string(length) + " bytes)";
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

bool IsFine(const PacketStream::Event& event) {
    return event.isPacket && event.error.empty() &&
           event.reference.find("neither") == std::string::npos && event.namedSecond % 2 == 0 &&
           event.latenessMs <= kLatestFirstByteMs;
}

}  // namespace

bool ListenSummary::Healthy() const {
    return packets > 0 && malformed == 0 && missed == 0 && doubled == 0 && oddSeconds == 0 &&
           late == 0 && neither == 0;
}

void ListenTally::Count(const PacketStream::Event& event) {
    if (!event.isPacket) {
        ++counts_.notPackets;
    } else if (!event.error.empty()) {
        ++counts_.malformed;
    } else {
        ++counts_.packets;
        if (event.reference != "local" && event.reference != "UTC") {
            ++counts_.neither;  // it names no second of this listening: no lateness either
            return;
        }
        counts_.late += event.latenessMs > kLatestFirstByteMs;
        counts_.oddSeconds += event.namedSecond % 2 != 0;
        counts_.doubled += !firstLatenessMs_.emplace(event.namedSecond, event.latenessMs).second;
        counts_.largestMs =
            std::max(counts_.largestMs.value_or(event.latenessMs), event.latenessMs);
    }
}

ListenSummary ListenTally::Summary(double started, double ended) const {
    ListenSummary summary = counts_;
    double listened = ended - started;
    summary.perMinute = listened > 0 ? summary.packets * 60.0 / listened : 0;
    // Only the seconds the PC clock passed while listening: a packet naming a far-off date
    // neither widens this nor makes it long.
    long first = static_cast<long>(std::ceil(started));
    first += first % 2 != 0;
    for (long second = first; second + kLatestFirstByteMs / 1000 <= ended; second += 2) {
        summary.missed += firstLatenessMs_.find(second) == firstLatenessMs_.end();
    }
    if (!firstLatenessMs_.empty()) {
        std::vector<double> lateness;
        for (const auto& [second, ms] : firstLatenessMs_) {
            lateness.push_back(ms);
        }
        std::sort(lateness.begin(), lateness.end());
        std::size_t middle = lateness.size() / 2;
        summary.medianMs =
            lateness.size() % 2 ? lateness[middle] : (lateness[middle - 1] + lateness[middle]) / 2;
    }
    return summary;
}

ListenSummary Summarise(const std::vector<PacketStream::Event>& events, double started,
                        double ended) {
    ListenTally tally;
    for (const auto& event : events) {
        tally.Count(event);
    }
    return tally.Summary(started, ended);
}

namespace {

// What listening keeps of what it heard: the counts, and for --json the last events.
struct Heard {
    bool json = false;
    ListenTally tally;
    std::deque<PacketStream::Event> last;
    std::size_t leftOut = 0;

    void Take(std::vector<PacketStream::Event> events) {
        for (auto& event : events) {
            tally.Count(event);
            if (!json) {
                std::printf("%s\n", EventLine(event).c_str());
                std::fflush(stdout);
                continue;
            }
            last.push_back(std::move(event));
            if (last.size() > kListedEvents) {
                last.pop_front();
                ++leftOut;
            }
        }
    }
};

// Reads until the time is up or a signal asks to stop. The time is the steady clock's, so
// neither a flood of bytes nor a step of the PC clock moves the end.
void ListenFor(double seconds, ListenLine& line, PacketStream& stream, Heard& heard) {
    using Steady = std::chrono::steady_clock;
    Steady::time_point until = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                                   std::chrono::duration<double>(seconds));
    for (Steady::time_point now = Steady::now(); now < until && !stopAsked; now = Steady::now()) {
        auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        std::string bytes = line.Read(static_cast<int>(std::min<decltype(waitMs)>(waitMs, 1000)));
        double arrival = WallSeconds();  // as close to the wake-up as it can be taken
        if (!bytes.empty()) {
            heard.Take(stream.Feed(bytes, arrival));
        }
    }
}

std::string Figures(const ListenSummary& summary) {
    char figures[400];
    std::snprintf(figures, sizeof figures,
                  "%d packets (%.1f a minute), %d even seconds missed, %d sent twice, "
                  "%d malformed, %d on an odd second, %d late (first byte over %.0f ms after "
                  "its second), %d neither local time nor UTC, %d runs of bytes that are not "
                  "packets",
                  summary.packets, summary.perMinute, summary.missed, summary.doubled,
                  summary.malformed, summary.oddSeconds, summary.late, kLatestFirstByteMs,
                  summary.neither, summary.notPackets);
    return figures;
}

std::string Lateness(const ListenSummary& summary) {
    if (!summary.medianMs) {
        return "no lateness measured";
    }
    char text[96];
    std::snprintf(text, sizeof text, "first byte after its second: median %.1f ms, largest %.1f ms",
                  *summary.medianMs, *summary.largestMs);
    return text;
}

void PrintJson(const Heard& heard, const ListenSummary& summary, const std::string& stopped) {
    Report report;
    if (heard.leftOut > 0) {
        report.Add("listen", "earlier events", Level::Note,
                   std::to_string(heard.leftOut) + " not listed: only the last " +
                       std::to_string(kListedEvents) + " are kept");
    }
    for (const auto& event : heard.last) {
        report.Add("listen", ClockText(event.arrival), IsFine(event) ? Level::Ok : Level::Problem,
                   EventLine(event));
    }
    report.Add("listen", "summary", summary.Healthy() ? Level::Ok : Level::Problem,
               Figures(summary));
    report.Add("listen", "lateness", Level::Ok, Lateness(summary));
    if (stopAsked) {
        report.Add("listen", "stopped", Level::Note, stopped);
    }
    std::fputs(report.AsJson().c_str(), stdout);
}

}  // namespace

int Listen(const std::string& device, double seconds, bool json) {
    StopOnSignals stopOnSignals;  // before the line is set raw: no moment it could stay so
    std::string error;
    std::unique_ptr<ListenLine> line = ListenLine::Open(device, error);
    std::string shownDevice = TerminalText(device);  // a [Ports] value, maybe
    if (!line) {
        std::fprintf(stderr, "beamclock-doctor: cannot listen on %s: %s\n", shownDevice.c_str(),
                     error.c_str());
        return 2;
    }
    if (!json) {
        std::printf("Listening on %s at 9600 8N1 for %g s\n", shownDevice.c_str(), seconds);
        std::fflush(stdout);
    }
    PacketStream stream;
    Heard heard;
    heard.json = json;
    double started = WallSeconds();
    ListenFor(seconds, *line, stream, heard);
    double ended = WallSeconds();
    char stopped[64];
    std::snprintf(stopped, sizeof stopped, "Stopped after %.1f s", ended - started);
    if (stopAsked && !json) {
        std::printf("%s\n", stopped);
    }
    heard.Take(stream.Finish());
    line.reset();

    ListenSummary summary = heard.tally.Summary(started, ended);
    if (json) {
        PrintJson(heard, summary, stopped);
    } else {
        std::printf("\n%s\n%s\n", Figures(summary).c_str(), Lateness(summary).c_str());
    }
    return summary.Healthy() ? 0 : 1;
}
