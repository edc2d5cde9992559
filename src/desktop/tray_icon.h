#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <array>
#include <cstdint>
#include <functional>

#include "desktop/tray_state.h"

class EventLog;
class QWidget;

inline constexpr const char* kTrayTip = "Set PC Time from GPS";

// A press or double-click of either button on the icon shows the window; a release, a move
// or the middle button does nothing.
bool TrayActivationShows(QSystemTrayIcon::ActivationReason reason);

// The icon's pictures, one for each SendingLook in its order.
using TrayLooks = std::array<QIcon, 3>;

// The tray icon that stands in for the window's taskbar button. No menu. Its picture and the
// tip's second line say whether the clock is being set. Without a tray host it simply is not
// seen.
class TrayIcon : public QObject {
  public:
    TrayIcon(TrayLooks looks, std::function<void()> show, QObject* parent = nullptr);

    void Add();
    void Delete();
    bool IsShown() const { return icon_.isVisible(); }
    QSystemTrayIcon& icon() { return icon_; }

    // The state as the log has it now, in its words; may be called on every tick: only a
    // change redraws the icon or the tip, and the notifications come as TrayNotices decides.
    void Follow(const EventLog& log, std::int64_t steadyMilliseconds);

  private:
    QSystemTrayIcon icon_;
    TrayLooks looks_;
    std::function<void()> show_;
    SendingLook look_ = SendingLook::Sending;
    TrayNotices notices_;
};

// Keeps the window's taskbar button away where a tray icon stands in for it: on X11 window
// managers honour the EWMH state _NET_WM_STATE_SKIP_TASKBAR, which is set on every show of the
// window while a system tray is there. Without a tray the button stays.
void TakeOutOfTaskbar(QWidget& window);

// A start at login: the window stays hidden where the tray icon stands in for it, and is shown
// if no tray turns up within five seconds.
void StartInTray(QWidget& window);
