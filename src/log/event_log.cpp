#include "log/event_log.h"

#include "system/wall_clock.h"

namespace {

constexpr std::int64_t kReminderMs = 3600 * 1000;
constexpr std::int64_t kEvenSecondMs = 2000;

std::string PortName(int port) {
    return "COM" + std::to_string(port);
}

// A list entry's first character marks availability ("+" or " "); a blank marker would
// read as a doubled space in the line, and the open that follows says the rest.
std::string WithoutMarker(std::string_view entry) {
    bool marked = entry.size() > 1 && (entry[0] == '+' || entry[0] == ' ');
    return std::string(marked ? entry.substr(1) : entry);
}

std::string InBrackets(std::string_view device) {
    return device.empty() ? std::string() : " (" + std::string(device) + ")";
}

// The even seconds from the loss to now: the packets the clock did not get. A write that
// failed was the even second itself, so one that began a tenth before the loss counts.
std::int64_t EvenSecondsBetween(std::int64_t from, std::int64_t to) {
    auto floorDiv = [](std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); };
    return std::max<std::int64_t>(
        0, floorDiv(to, kEvenSecondMs) - floorDiv(from - 100 - 1, kEvenSecondMs));
}

}  // namespace

EventLog::EventLog(WallMilliseconds now) : now_(std::move(now)) {}

std::int64_t EventLog::SystemMilliseconds() {
    return WallClockMilliseconds();
}

void EventLog::Say(Priority priority, const std::string& text) {
    if (output_) {
        output_(priority, text, now_());
    }
}

void EventLog::Started(std::string_view version, const std::filesystem::path& settingsFile,
                       std::string_view why, std::string_view port, bool utc) {
    utc_ = utc;
    Say(Priority::Notice, "Beamclock " + std::string(version) + " started; settings " +
                              settingsFile.string() + ", " + std::string(why) + "; port " +
                              WithoutMarker(port) + ", " + (utc ? "UTC" : "LOCAL") + " time");
}

void EventLog::PortOpened(int port, std::string_view device) {
    if (portState_ == PortState::Gone && port == port_ && reason_.rfind(kHeldByAnother, 0) == 0) {
        // Whoever held it may have sent every packet, another copy of ours for one: none is
        // counted as lost.
        Say(Priority::Notice, PortName(port) + " opened" + InBrackets(device) + " after " +
                                  Span(now_() - goneAt_) + " held by another program");
    } else if (portState_ == PortState::Gone && port == port_) {
        std::int64_t now = now_();
        std::int64_t unsent = EvenSecondsBetween(goneAt_, now);
        Say(Priority::Notice, PortName(port) + " back" + InBrackets(device) + " after " +
                                  Span(now - goneAt_) + "; " + std::to_string(unsent) +
                                  (unsent == 1 ? " even second" : " even seconds") + " not sent");
    } else {
        Say(Priority::Info, PortName(port) + " opened" + InBrackets(device));
    }
    port_ = port;
    portState_ = PortState::Open;
    device_ = device;
}

void EventLog::OpenFailed(int port, std::string_view device, std::string_view why) {
    std::string reason(why);
    std::int64_t now = now_();
    if (portState_ != PortState::Gone || port != port_) {
        Say(Priority::Warning,
            PortName(port) + " could not be opened" + InBrackets(device) + ": " + reason);
        port_ = port;
        portState_ = PortState::Gone;
        goneAt_ = now;
    } else if (reason != reason_) {
        Say(Priority::Warning,
            PortName(port) + " still cannot be opened" + InBrackets(device) + ": " + reason);
    } else if (now - lastSaidAt_ >= kReminderMs) {
        std::string how =
            reason == kNoSuchDevice ? " still missing" : " still not open (" + reason + ")";
        Say(Priority::Warning, PortName(port) + how + ", for " + Span(now - goneAt_));
    } else {
        return;
    }
    reason_ = lossWords_ = reason;
    device_ = device;
    lastSaidAt_ = now;
}

void EventLog::PortLost(int port, std::string_view device, PortLoss why) {
    const char* words = why == PortLoss::Vanished ? "the device vanished"
                        : why == PortLoss::HungUp ? "the line was hung up"
                                                  : "a write failed";
    Say(Priority::Warning, PortName(port) + " lost" + InBrackets(device) + ": " + words);
    port_ = port;
    portState_ = PortState::Gone;
    // A device that vanished is missing until it is back: that needs no second line.
    reason_ = why == PortLoss::Vanished ? kNoSuchDevice : "";
    lossWords_ = why == PortLoss::Vanished ? kNoSuchDevice : words;
    device_ = device;
    goneAt_ = lastSaidAt_ = now_();
}

void EventLog::PortClosed(int port) {
    if (port == port_) {
        portState_ = PortState::Unknown;
    }
}

void EventLog::SecondsNotSent(int count, std::int64_t lateMilliseconds) {
    Say(Priority::Warning, std::to_string(count) + (count == 1 ? " even second" : " even seconds") +
                               " not sent, late: the tick came " + Span(lateMilliseconds) +
                               " late (a suspend or a stopped process?)");
}

void EventLog::ClockSet(std::int64_t stepMilliseconds) {
    Say(Priority::Notice, std::string("the clock was set ") +
                              (stepMilliseconds < 0 ? "back" : "forward") + " by " +
                              Span(stepMilliseconds));
}

std::string EventLog::SendingState() const {
    if (portState_ == PortState::Open) {
        return std::string("sending ") + (utc_.value_or(false) ? "UTC" : "local") + " time to " +
               PortName(port_) + InBrackets(device_);
    }
    if (portState_ == PortState::Gone) {
        char since[16];
        std::tm fields = LocalFields(goneAt_ / 1000);
        std::strftime(since, sizeof since, "%H:%M:%S", &fields);
        return PortName(port_) + InBrackets(device_) + ": " + lossWords_ + " since " + since +
               ", not sending";
    }
    return "no port chosen";
}

void EventLog::PortChosen(std::string_view entry) {
    Say(Priority::Notice, "port chosen: " + WithoutMarker(entry));
}

void EventLog::TimeChosen(bool utc) {
    if (utc_ == utc) {
        return;
    }
    utc_ = utc;
    Say(Priority::Notice, std::string("time chosen: ") + (utc ? "UTC" : "LOCAL"));
}

void EventLog::NotRead(const std::filesystem::path& file, std::string_view why) {
    Say(Priority::Warning, "could not read " + file.string() + ": " + std::string(why) +
                               "; its settings are not used");
}

void EventLog::NotSaved(std::string_view key, std::string_view value,
                        const std::filesystem::path& file) {
    // No file at all: no home of this user's own to keep a per-user file in (as root with
    // another user's HOME), and the program's folder may not be written.
    std::string where =
        file.empty() ? ": there is no settings file this user may write" : " in " + file.string();
    Say(Priority::Error, "could not save " + std::string(key) + "=" + std::string(value) + where +
                             "; it holds until the program ends");
}

void EventLog::ShowRequested() {
    Say(Priority::Info, "a second start asked this copy to show its window");
}

void EventLog::Ended(std::string_view why) {
    if (!ended_) {
        ended_ = true;
        Say(Priority::Notice, "ended: " + std::string(why));
    }
}

void EventLog::Message(Priority priority, std::string_view text) {
    Say(priority, std::string(text));
}

EventLog& Log() {
    static EventLog log;
    return log;
}
