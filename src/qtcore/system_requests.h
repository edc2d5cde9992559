#pragma once

#include <QObject>
#include <functional>

// What the system asks of the running program, each turned into a call on the GUI thread.
// Close: SIGTERM, SIGINT and SIGHUP (a shutdown, Ctrl+C in a terminal, a lost session).
// Show: SIGUSR1, sent by a second start of the program that found this copy running.
class SystemRequests : public QObject {
  public:
    SystemRequests(std::function<void()> onClose, std::function<void()> onShow,
                   QObject* parent = nullptr);
    ~SystemRequests() override;

  private:
    std::function<void()> onClose_;
    std::function<void()> onShow_;
};
