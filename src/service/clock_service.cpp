#include "service/clock_service.h"

#include "serial/port_selection.h"

namespace {

// As the window's load: a step that fails is skipped and the next one runs.
template <typename Step>
void ContinueOnError(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace

ClockService::ClockService(const PcClock& clock, SerialPort& device,
                           std::filesystem::path settingsFile, Log log)
    : settingsFile_(std::move(settingsFile)),
      log_(std::move(log)),
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
    log_("port " + portText_ + (port_.PortOpen() ? " (open)" : " (not open; trying again)") + ", " +
         (utc() ? "UTC" : "local time"));
}

void ClockService::Load() {
    RestoreAndOpen();
    SendUDP.Start();
}

void ClockService::Reload() {
    // Closing ends the old choice; the restore makes the file's choice the new one.
    port_.Close();
    RestoreAndOpen();
}

void ClockService::Stop() {
    port_.Close();
}
