#pragma once

#include <QObject>
#include <functional>

// SIGTERM, SIGINT and SIGHUP are the system's ways of asking the program to close (a shutdown,
// Ctrl+C in a terminal, a lost session). Each is turned into a call on the GUI thread.
class CloseRequests : public QObject {
  public:
    explicit CloseRequests(std::function<void()> onRequest, QObject* parent = nullptr);
    ~CloseRequests() override;

  private:
    std::function<void()> onRequest_;
};
