#include "qtcore/mark_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::int64_t WallClockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Runs the event loop until `ticks` holds `count` entries or two seconds pass.
void WaitForTicks(const std::vector<std::int64_t>& ticks, std::size_t count) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ticks.size() >= count) {
            loop.quit();
        }
    });
    poll.start(5);
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
}

class MarkTimerTest : public ::testing::Test {
  protected:
    MarkTimerTest() {
        timer.OnTimeout([this] { ticks.push_back(WallClockMilliseconds()); });
    }

    MarkTimer timer;
    std::vector<std::int64_t> ticks;
};

TEST_F(MarkTimerTest, TicksOncePerMarkAndKeepsGoing) {
    timer.Start();
    timer.Start();  // a second start must not arm a second wait
    WaitForTicks(ticks, 6);
    ASSERT_GE(ticks.size(), 6u);
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        // A tick early on its mark, or a re-arm that waits nothing, would put two ticks
        // into one 100 ms slot.
        EXPECT_LT(ticks[i - 1] / 100, ticks[i] / 100) << "ticks " << i - 1 << " and " << i;
    }
}

TEST_F(MarkTimerTest, AClockSetTicksAtOnceOnlyWhileRunning) {
    timer.ClockWasSet();
    EXPECT_TRUE(ticks.empty());

    timer.Start();
    timer.ClockWasSet();
    EXPECT_EQ(ticks.size(), 1u);
    WaitForTicks(ticks, 3);
    EXPECT_GE(ticks.size(), 3u) << "the timer must be armed again after the clock was set";
}

#ifdef _WIN32
TEST_F(MarkTimerTest, HearsWindowsAnnounceThatTheClockWasSet) {
    timer.Start();
    // What Windows sends every top-level window after the date or time was changed.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_TIMECHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
    EXPECT_EQ(ticks.size(), 1u);
    WaitForTicks(ticks, 3);
    EXPECT_GE(ticks.size(), 3u);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
