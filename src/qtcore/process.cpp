#include "qtcore/process.h"

#include <memory>

#include "log/event_log.h"
#include "log/log_output.h"
#include "qtcore/qt_messages.h"
#include "qtcore/system_requests.h"

namespace {

// Kept to the very end: Qt may still have something to say as the program ends.
void StartTheLog() {
    static std::unique_ptr<LogOutput> output = LogOutput::ForThisProcess();
    Log().SetOutput([](Priority priority, std::string_view text, std::int64_t unixMilliseconds) {
        output->Write(priority, text, unixMilliseconds);
    });
}

}  // namespace

void StartProcess(Program program) {
    LetTheTicksWakeOnTheMarks();
    StartTheLog();
    ForwardQtMessagesToLog(program == Program::Service || RunOffscreenWithoutADisplay());
    CatchSystemRequests();
}
