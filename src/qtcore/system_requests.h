#pragma once

#include <QObject>
#include <functional>

// What the system asks of a running program, each turned into a call on the event loop's
// thread, never in the middle of other work. An empty handler leaves its request unanswered.
struct SystemRequestHandlers {
    // SIGTERM and SIGINT (a shutdown, Ctrl+C in a terminal), and SIGHUP where there is no
    // reload (a lost session); on Windows the end of the session. The log has said why first.
    std::function<void()> close;
    // SIGHUP, for a program that reads its settings again.
    std::function<void()> reload;
    // SIGUSR1 (on Windows a window message of its own), sent by a second start of the program
    // that found this copy running.
    std::function<void()> show;
};

// Catches the requests at once, so that one that comes while the program starts waits for its
// SystemRequests instead of ending it half started. StartProcess calls it.
void CatchSystemRequests();

class SystemRequests : public QObject {
  public:
    explicit SystemRequests(SystemRequestHandlers handlers, QObject* parent = nullptr);
    ~SystemRequests() override;

  private:
    SystemRequestHandlers handlers_;
};
