// The end of the session (log-off, shut-down) and a second start's request to show, as they
// reach the program's windows. Nothing asks for a reload on Windows.

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include "desktop/single_instance.h"
#include "log/event_log.h"
#include "qtcore/system_requests.h"

namespace {

class WindowsMessages : public QAbstractNativeEventFilter {
  public:
    explicit WindowsMessages(const SystemRequestHandlers& handlers)
        : handlers_(handlers), show_(::RegisterWindowMessageW(kShowMessageName)) {}

    bool nativeEventFilter(const QByteArray&, void* message, qintptr* result) override {
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == show_) {
            if (handlers_.show) {
                handlers_.show();
            }
            return true;
        }
        // The unload step must be done before this message is answered: the session may end
        // the process right after.
        if (msg->message == WM_ENDSESSION && msg->wParam && !ended_) {
            ended_ = true;
            Log().Ended("session end");
            if (handlers_.close) {
                handlers_.close();
            }
            *result = 0;
            return true;
        }
        return false;
    }

  private:
    const SystemRequestHandlers& handlers_;
    UINT show_;
    bool ended_ = false;
};

WindowsMessages* filter = nullptr;

}  // namespace

// Windows' requests come as window messages, which wait for the event loop by themselves.
void CatchSystemRequests() {}

SystemRequests::SystemRequests(SystemRequestHandlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    filter = new WindowsMessages(handlers_);
    QCoreApplication::instance()->installNativeEventFilter(filter);
}

SystemRequests::~SystemRequests() {
    QCoreApplication::instance()->removeNativeEventFilter(filter);
    delete filter;
    filter = nullptr;
}
