#include "doctor/packet_stream.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "clock/calendar.h"
#include "clock/packet.h"

namespace {

// The C runtime's timegm, under its name on each system.
std::time_t UtcInstant(std::tm& fields) {
#ifdef _WIN32
    return _mkgmtime(&fields);
#else
    return ::timegm(&fields);
#endif
}

// A run of bytes that are not packets ends at a pause this long, or once it is this old.
constexpr double kRunPauseSeconds = 0.1;
constexpr double kRunSeconds = 1;

}  // namespace

PacketStream::Event PacketStream::Judge(const std::string& packet, double arrival) const {
    Event event;
    event.arrival = arrival;
    event.bytes = packet;
    event.length = packet.size();
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

// The pending bytes join the run that is not shown yet, unless a pause or its age ends it.
void PacketStream::AddToRun(std::vector<Event>& events) {
    bool paused = pendingSince_ - runLastArrival_ > kRunPauseSeconds;
    if (run_ && (paused || pendingSince_ - run_->arrival >= kRunSeconds)) {
        EndRun(events);
    }
    junkBytes_ = (paused ? 0 : junkBytes_) + pending_.size();
    if (!run_) {
        run_ = Event{};
        run_->arrival = pendingSince_;
    }
    run_->bytes.append(pending_, 0, std::min(pending_.size(), kShownBytes - run_->bytes.size()));
    run_->length += pending_.size();
    runLastArrival_ = pendingLast_;
    pending_.clear();
}

void PacketStream::EndRun(std::vector<Event>& events) {
    if (run_) {
        events.push_back(std::move(*run_));
        run_.reset();
    }
}

std::vector<PacketStream::Event> PacketStream::Feed(std::string_view bytes, double arrival) {
    std::vector<Event> events;
    for (char c : bytes) {
        // A "*" starts a packet: what came before it (stray bytes, or a packet cut short)
        // joins the run of bytes that are not packets, and so do bytes without a "*" once
        // they are packet-long.
        bool strayRunIsLong =
            !pending_.empty() && pending_.front() != '*' && pending_.size() == kPacketLength;
        if (!pending_.empty() && (c == '*' || strayRunIsLong)) {
            AddToRun(events);
        }
        if (pending_.empty()) {
            pendingSince_ = arrival;
        }
        pending_ += c;
        pendingLast_ = arrival;
        if (pending_.front() == '*' && pending_.size() == kPacketLength) {
            Event packet = Judge(pending_, pendingSince_);
            // Amid a flood of bytes that are not packets, a "*" is one more of them, not a
            // packet gone wrong.
            bool amidJunk = !packet.error.empty() && junkBytes_ >= kPacketLength &&
                            pendingSince_ - runLastArrival_ <= kRunPauseSeconds;
            if (amidJunk) {
                AddToRun(events);
                continue;
            }
            EndRun(events);
            events.push_back(std::move(packet));
            pending_.clear();
            junkBytes_ = 0;
        }
    }
    return events;
}

std::vector<PacketStream::Event> PacketStream::Finish() {
    std::vector<Event> events;
    if (!pending_.empty()) {
        AddToRun(events);
    }
    EndRun(events);
    return events;
}
