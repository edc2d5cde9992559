#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

class QSocketNotifier;

// A 100 ms timer whose ticks sit on the wall clock's 100 ms marks (x.000, x.100 ... x.900 s).
// It is re-armed from the clock at every tick, so drift, a busy event loop, a suspend or a
// clock that is stepped never accumulate or stall it: the next tick is on the next mark.
// On Linux it sleeps to the absolute mark itself (a timerfd on the real-time clock, cancelled
// when the clock is set); on Windows a high-resolution waitable timer sleeps to the mark, its
// completion routine runs on this thread, and a hidden window hears when the clock is set. On Linux
// the tick comes within a fraction of a millisecond of the mark (under Wine, about two); elsewhere
// it waits the whole milliseconds up to it.
class MarkTimer : public QObject {
  public:
    explicit MarkTimer(QObject* parent = nullptr);
    ~MarkTimer() override;

    void OnTimeout(std::function<void()> handler) { handler_ = std::move(handler); }
    // Called before the tick when the wall clock was set, with how far it moved (ms).
    void OnClockSet(std::function<void(std::int64_t)> handler) { clockSet_ = std::move(handler); }

    // Starts ticking, if it is not already; the first tick comes on the next mark.
    void Start();
    bool isActive() const { return active_; }
    static constexpr int period() { return 100; }

    // One tick, as the timer gives it.
    void Fire();

    // The wall clock was set: tick now and wait for the new clock's next mark.
    void ClockWasSet();

    // On the mark: wait for the next one, then tick.
    void Tick();

  private:
    void Arm();

    std::function<void()> handler_;
    std::function<void(std::int64_t)> clockSet_;
    std::int64_t wallMinusSteady_ = 0;  // at the last arming, to tell by how much it was set
    bool active_ = false;
    int timerFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    void* waitableTimer_ = nullptr;
    void* timeChangeWindow_ = nullptr;
    QTimer fallback_;
};
