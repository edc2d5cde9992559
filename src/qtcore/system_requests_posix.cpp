// The signals, through a pipe: the handler only writes the signal's number into it, and the
// event loop reads it when it is free.

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

#include "log/event_log.h"
#include "qtcore/system_requests.h"

namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

// Only async-signal-safe work here: the signal's number into the pipe.
void OnSignal(int signal) {
    char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

const char* WhyEnded(int signal) {
    return signal == SIGTERM  ? "signal SIGTERM"
           : signal == SIGINT ? "signal SIGINT"
                              : "signal SIGHUP";
}

}  // namespace

void CatchSystemRequests() {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

SystemRequests::SystemRequests(SystemRequestHandlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    CatchSystemRequests();
    if (signalPipe[0] < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char received[64];
        int close = 0;
        bool show = false;
        bool reload = false;
        ssize_t count;
        while ((count = ::read(signalPipe[0], received, sizeof received)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                if (received[i] == SIGUSR1) {
                    show = true;
                } else if (received[i] == SIGHUP && handlers_.reload) {
                    reload = true;
                } else {
                    close = received[i];
                }
            }
        }
        if (show && handlers_.show) {
            handlers_.show();
        }
        if (close != 0) {
            Log().Ended(WhyEnded(close));
            if (handlers_.close) {
                handlers_.close();
            }
        } else if (reload) {
            handlers_.reload();
        }
    });
}

SystemRequests::~SystemRequests() {
    for (int signal : kSignals) {
        ::signal(signal, SIG_DFL);
    }
}
