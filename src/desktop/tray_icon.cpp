#include "desktop/tray_icon.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log/event_log.h"

#if defined(BEAMCLOCK_HAVE_XCB)
#include <xcb/xcb.h>
#endif

bool TrayActivationShows(QSystemTrayIcon::ActivationReason reason) {
    return reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
           reason == QSystemTrayIcon::DoubleClick;
}

TrayIcon::TrayIcon(TrayLooks looks, std::function<void()> show, QObject* parent)
    : QObject(parent), icon_(looks[0]), looks_(std::move(looks)), show_(std::move(show)) {
    icon_.setToolTip(QString::fromLatin1(kTrayTip));
    connect(&icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (TrayActivationShows(reason)) {
                    show_();
                }
            });
}

void TrayIcon::Add() {
    icon_.show();
}

void TrayIcon::Delete() {
    icon_.hide();
}

void TrayIcon::Follow(const EventLog& log, std::int64_t steadyMilliseconds) {
    SendingLook look = log.Failing()   ? SendingLook::Failing
                       : log.Sending() ? SendingLook::Sending
                                       : SendingLook::NotChosen;
    QString words = QString::fromStdString(log.SendingState());
    if (!words.isEmpty()) {
        words[0] = words[0].toUpper();  // the log's words as the start of a line
    }
    if (look != look_) {
        look_ = look;
        icon_.setIcon(looks_[static_cast<std::size_t>(look)]);
    }
    QString tip = QString::fromLatin1(kTrayTip) + '\n' + words;
    if (tip != icon_.toolTip()) {
        icon_.setToolTip(tip);
    }
    if (std::optional<TrayNotices::Notice> notice = notices_.Check(look, steadyMilliseconds)) {
        bool lost = *notice == TrayNotices::Notice::Lost;
        icon_.showMessage(lost ? "The clock is not being set" : "The clock is being set again",
                          words, lost ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    }
}

namespace {

#if defined(BEAMCLOCK_HAVE_XCB)
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
        nullptr);
    xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
}

// For a window manager that starts after us: it reads the state from the window itself.
void AddToStateProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t state,
                        xcb_atom_t skipTaskbar) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 64), nullptr);
    bool present = false;
    if (reply != nullptr) {
        auto* atoms = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
        int count = xcb_get_property_value_length(reply) / static_cast<int>(sizeof(xcb_atom_t));
        present = std::find(atoms, atoms + count, skipTaskbar) != atoms + count;
        free(reply);
    }
    if (!present) {
        xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, state, XCB_ATOM_ATOM, 32, 1,
                            &skipTaskbar);
    }
}

// The EWMH way to change the state of a mapped window is a client message to the root window.
void SkipTaskbar(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;  // not on X11
    }
    xcb_connection_t* connection = x11->connection();
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window.winId());
    message.type = Atom(connection, "_NET_WM_STATE");
    message.data.data32[0] = 1;  // _NET_WM_STATE_ADD
    message.data.data32[1] = Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    AddToStateProperty(connection, message.window, message.type, message.data.data32[1]);
    message.data.data32[3] = 1;  // sent by a normal application
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}
#elif defined(_WIN32)
// A tool window (WS_EX_TOOLWINDOW) gets no taskbar button; Wine turns it into the same
// _NET_WM_STATE_SKIP_TASKBAR as on Linux. A hidden owner, the other way, Wine ignores.
void SkipTaskbar(QWidget& window) {
    window.setWindowFlag(Qt::Tool, true);
}
#else
void SkipTaskbar(QWidget&) {}
#endif

// Without a tray (GNOME without an extension, a bare window manager) the taskbar button is the
// only way back to a minimised window: keep it there.
void SkipTaskbarWhereATrayStandsIn(QWidget& window) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        SkipTaskbar(window);
    }
}

class ShowWatcher : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            // After the show has reached the window manager.
            QTimer::singleShot(0, window, [window] { SkipTaskbarWhereATrayStandsIn(*window); });
        }
        return false;
    }
};

}  // namespace

void TakeOutOfTaskbar(QWidget& window) {
#ifdef _WIN32
    SkipTaskbar(window);  // Windows always has its notification area; before the first show
#else
    window.installEventFilter(new ShowWatcher(&window));
    if (window.isVisible()) {
        SkipTaskbarWhereATrayStandsIn(window);
    }
#endif
}

void StartInTray(QWidget& window) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    // At login the panel that holds the tray may come up after the programs it starts.
    auto* wait = new QTimer(&window);
    wait->setInterval(250);
    QObject::connect(wait, &QTimer::timeout, &window, [&window, wait, tries = 0]() mutable {
        if (QSystemTrayIcon::isSystemTrayAvailable() || ++tries == 20) {
            wait->deleteLater();
            if (!QSystemTrayIcon::isSystemTrayAvailable()) {
                window.show();
            }
        }
    });
    wait->start();
}
