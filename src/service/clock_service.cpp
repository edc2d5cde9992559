#include "service/clock_service.h"

#include "clock/continue_on_error.h"
#include "log/event_log.h"
#include "serial/port_selection.h"
#include "settings/settings_location.h"

ClockService::ClockService(const PcClock& clock, SerialPort& device,
                           std::filesystem::path settingsFile, std::string version)
    : settingsFile_(std::move(settingsFile)),
      version_(std::move(version)),
      port_(device),
      tick_(clock, port_, [](const std::string&) {}),
      timeReference_(tick_.utcMode, settingsFile_) {
    timeReference_.savesChoice = false;
    tick_.beforeEvenSecond = [this] { port_.Reopen(); };
    SendUDP.OnTimeout([this] { tick_.TransmitTick(); });
}

void ClockService::RestoreAndOpen() {
    ContinueOnError([this] { portText_ = RestoreSavedPort(port_, settingsFile_); });
    ContinueOnError([this] { OpenRestoredPort(portText_, port_); });
    ContinueOnError([this] { timeReference_.Restore(); });
}

void ClockService::Load() {
    RestoreAndOpen();
    SettingsLocation where = LocateSettings(settingsFile_);
    Log().Started(version_, where.read, Describe(where.why), portText_, utc());
    SayIfUnreadable();
    SendUDP.Start();
}

void ClockService::Reload() {
    // Closing ends the old choice; the restore makes the file's choice the new one.
    port_.Close();
    RestoreAndOpen();
    Log().PortChosen(portText_);
    Log().TimeChosen(utc());
    SayIfUnreadable();
}

void ClockService::SayIfUnreadable() {
    if (UnreadableSettings unread = FindUnreadableSettings(settingsFile_); !unread.file.empty()) {
        Log().NotRead(unread.file, unread.why);
    }
}

void ClockService::Stop() {
    port_.Close();
}
