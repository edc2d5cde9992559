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
    ContinueOnError([this] { portText_ = RestoreSavedPort(port_, settingsFile_); });
    ContinueOnError([this] { OpenRestoredPort(portText_, port_); });
    ContinueOnError([this] { timeReference_.Restore(); });
    return portText_;
}

void ClockSetter::Reload() {
    // Closing ends the old choice; the restore makes the file's choice the new one.
    port_.Close();
    Load();
    Log().PortChosen(portText_);
    Log().TimeChosen(utc());
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
