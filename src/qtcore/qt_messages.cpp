#include "qtcore/qt_messages.h"

#include <QString>
#include <QtGlobal>
#include <string>

#include "log/event_log.h"

namespace {

bool quietWarnings = false;

Priority PriorityOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
        case QtInfoMsg:
            return Priority::Info;
        case QtWarningMsg:
            return Priority::Warning;
        case QtCriticalMsg:
        case QtFatalMsg:
            return Priority::Error;
    }
    return Priority::Info;
}

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    Priority priority = PriorityOf(type);
    if (quietWarnings && priority != Priority::Error) {
        return;
    }
    std::string category = context.category != nullptr ? context.category : "default";
    Log().Message(priority, "Qt (" + category + "): " + message.toStdString());
}

}  // namespace

void ForwardQtMessagesToLog(bool withoutDisplay) {
    quietWarnings = withoutDisplay;
    qInstallMessageHandler(OnQtMessage);
}
