#include "clock/sync_wait.h"

#include <string>

#include "clock/time_reference.h"
#include "log/event_log.h"
#include "settings/settings_file.h"

SyncWait::SyncWait(Reader read) : read_(std::move(read)) {}

void SyncWait::ReadSetting(const std::filesystem::path& settingsFile) {
    sendRegardless_ =
        TextToBoolean(ReadIniValue("Service", "SendUnsynchronised", "False", settingsFile))
            .value_or(false);
}

bool SyncWait::MaySend() {
    ClockSync sync = read_();
    if (!sync.known && !toldUnknown_) {
        toldUnknown_ = true;
        Log().Message(Priority::Notice,
                      "the system does not say whether its clock is "
                      "synchronised: sending the time it shows");
    }
    // A system that does not say is taken at its word, as the window program takes every PC.
    bool wait = !sendRegardless_ && sync.known && !sync.synchronised;
    if (wait && !waiting_) {
        Log().Message(Priority::Warning,
                      std::string(kWaitingForSync) +
                          ": nothing is sent until a time source sets it ([Service] "
                          "SendUnsynchronised=True in the settings file sends regardless)");
    } else if (!wait && waiting_) {
        Log().Message(Priority::Notice, sendRegardless_
                                            ? "sending regardless of synchronisation, as the "
                                              "settings file says"
                                            : "the system clock is synchronised: sending");
    }
    waiting_ = wait;
    return !wait;
}
