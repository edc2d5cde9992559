#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

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

    // Only the marks a program without a display needs (NextNeededMark); before Start().
    void OnlyNeededMarks() { onlyNeeded_ = true; }

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
    // The platform's way to sleep to a mark and to hear of a clock set; each platform's file
    // (mark_timer_posix.cpp, mark_timer_windows.cpp, mark_timer_free.cpp for the benchmark's
    // baseline) defines it with the constructor, the destructor, Arm and WallMinusSteady.
    struct Wait;

    // Sleeps to the next mark: the platform's wait, or the fallback timer without one.
    void Arm();
    // Whether the wall clock was set since the last arming, by more than the measuring's noise.
    bool ClockMoved() const;
    // The next mark after now, in any unit: second is one second in it.
    std::int64_t NextMarkAfter(std::int64_t now, std::int64_t second) const;
    // The wall clock less a clock that only runs on: it moves when the wall clock is set, and
    // by as much.
    static std::int64_t WallMinusSteady();

    std::function<void()> handler_;
    std::function<void(std::int64_t)> clockSet_;
    std::int64_t wallMinusSteady_ = 0;  // at the last arming, to tell by how much it was set
    bool active_ = false;
    bool onlyNeeded_ = false;
    std::unique_ptr<Wait> wait_;  // none: the fallback timer waits the whole milliseconds
    QTimer fallback_;
};
