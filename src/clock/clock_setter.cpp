#include "clock/clock_setter.h"

#include "log/event_log.h"
#include "serial/port_selection.h"
#include "settings/settings_location.h"

ClockSetter::ClockSetter(const PcClock& clock, SerialPort& device,
                         std::filesystem::path settingsFile,
                         TransmissionTick::PacketSink showPacket)
    : settingsFile_(std::move(settingsFile)),
      port_(device),
      tick_(clock, port_, std::move(showPacket)),
      timeReference_(tick_.utcMode, settingsFile_) {
    tick_.beforeEvenSecond = [this] { port_.Reopen(); };
}

const std::string& ClockSetter::Load() {
    RestoreAndOpen();
    ContinueOnError([this] { timeReference_.Restore(); });
    return portText_;
}

void ClockSetter::RestoreAndOpen() {
    ContinueOnError([this] { portText_ = RestoreSavedPort(port_, settingsFile_); });
    ContinueOnError([this] { OpenRestoredPort(portText_, port_); });
    openedDevice_ = port_.Device();
}

void ClockSetter::Reload() {
    // Only what the file changed is redone: a port closed and opened again for nothing could
    // miss an even second, and lines for every reload would bury the one that matters.
    bool portChanged = RestoredListText(SavedPortChoice(settingsFile_)) != portText_ ||
                       port_.Device() != openedDevice_;
    bool wasUtc = utc();
    if (portChanged) {
        port_.Close();  // ends the old choice; the restore makes the file's the new one
        RestoreAndOpen();
        Log().PortChosen(portText_);
    }
    ContinueOnError([this] { timeReference_.Restore(); });
    if (utc() != wasUtc) {
        Log().TimeChosen(utc());
    }
    if (!portChanged && utc() == wasUtc) {
        Log().Message(Priority::Notice, "settings read again: no change");
    }
    SayIfUnreadable();
}

void ClockSetter::ClockWasSet(std::int64_t stepMilliseconds) {
    Log().ClockSet(stepMilliseconds);
    tick_.ClockWasSet();
}

void ClockSetter::SayIfUnreadable() const {
    if (UnreadableSettings unread = FindUnreadableSettings(settingsFile_); !unread.file.empty()) {
        Log().NotRead(unread.file, unread.why);
    }
}
