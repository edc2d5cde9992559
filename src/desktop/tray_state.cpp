#include "desktop/tray_state.h"

std::optional<TrayNotices::Notice> TrayNotices::Check(SendingLook look, std::int64_t now) {
    if (look == SendingLook::Failing) {
        if (!failingFrom_) {
            failingFrom_ = now;
        }
        if (!toldLost_ && now - *failingFrom_ >= kLostAfterMs) {
            toldLost_ = true;
            return Notice::Lost;
        }
        return std::nullopt;
    }
    failingFrom_.reset();
    bool wasTold = toldLost_;
    toldLost_ = false;
    // A user who gave up on the port and chose "None" needs no word that it is back.
    if (wasTold && look == SendingLook::Sending) {
        return Notice::Back;
    }
    return std::nullopt;
}
