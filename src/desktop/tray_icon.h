#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>

class QWidget;

inline constexpr const char* kTrayTip = "Set PC Time from GPS";

// A press or double-click of either button on the icon shows the window; a release, a move
// or the middle button does nothing.
bool TrayActivationShows(QSystemTrayIcon::ActivationReason reason);

// The tray icon that stands in for the window's taskbar button. No menu; its tip and picture
// never change. Without a tray host it simply is not seen.
class TrayIcon : public QObject {
  public:
    TrayIcon(const QIcon& icon, std::function<void()> show, QObject* parent = nullptr);

    void Add();
    void Delete();
    bool IsShown() const { return icon_.isVisible(); }
    QSystemTrayIcon& icon() { return icon_; }

  private:
    QSystemTrayIcon icon_;
    std::function<void()> show_;
};

// Keeps the window's taskbar button away where a tray icon stands in for it: on X11 window
// managers honour the EWMH state _NET_WM_STATE_SKIP_TASKBAR, which is set on every show of the
// window while a system tray is there. Without a tray the button stays.
void TakeOutOfTaskbar(QWidget& window);
