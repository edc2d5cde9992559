#include "qtcore/system_requests.h"

#include <QSocketNotifier>

#include "log/event_log.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

// Only async-signal-safe work here: the signal's number into the pipe.
void OnSignal(int signal) {
    char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

SystemRequests::SystemRequests(std::function<void()> onClose, std::function<void()> onShow,
                               QObject* parent)
    : QObject(parent), onClose_(std::move(onClose)), onShow_(std::move(onShow)) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char received[64];
        int close = 0;
        bool show = false;
        ssize_t count;
        while ((count = ::read(signalPipe[0], received, sizeof received)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                if (received[i] == SIGUSR1) {
                    show = true;
                } else {
                    close = received[i];
                }
            }
        }
        if (show) {
            onShow_();
        }
        if (close != 0) {
            Log().Ended(close == SIGTERM  ? "signal SIGTERM"
                        : close == SIGINT ? "signal SIGINT"
                                          : "signal SIGHUP");
            onClose_();
        }
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

SystemRequests::~SystemRequests() {
    for (int signal : kSignals) {
        ::signal(signal, SIG_DFL);
    }
}
#else
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include "desktop/single_instance.h"

namespace {

// The end of the session (log-off, shut-down) and a second start's request to show, as they
// reach the program's windows.
class WindowsMessages : public QAbstractNativeEventFilter {
  public:
    WindowsMessages(std::function<void()>& onClose, std::function<void()>& onShow)
        : onClose_(onClose), onShow_(onShow), show_(::RegisterWindowMessageW(kShowMessageName)) {}

    bool nativeEventFilter(const QByteArray&, void* message, qintptr* result) override {
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == show_) {
            onShow_();
            return true;
        }
        // The unload step must be done before this message is answered: the session may end
        // the process right after.
        if (msg->message == WM_ENDSESSION && msg->wParam && !ended_) {
            ended_ = true;
            Log().Ended("session end");
            onClose_();
            *result = 0;
            return true;
        }
        return false;
    }

  private:
    std::function<void()>& onClose_;
    std::function<void()>& onShow_;
    UINT show_;
    bool ended_ = false;
};

WindowsMessages* filter = nullptr;

}  // namespace

SystemRequests::SystemRequests(std::function<void()> onClose, std::function<void()> onShow,
                               QObject* parent)
    : QObject(parent), onClose_(std::move(onClose)), onShow_(std::move(onShow)) {
    filter = new WindowsMessages(onClose_, onShow_);
    QCoreApplication::instance()->installNativeEventFilter(filter);
}

SystemRequests::~SystemRequests() {
    QCoreApplication::instance()->removeNativeEventFilter(filter);
    delete filter;
    filter = nullptr;
}
#endif
