#include "clock/tick_schedule.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/time_zone.h"

namespace {

const std::int64_t kSecond = UtcInstant(2026, 12, 6, 14, 5, 9) * 1000;

// Where a tick armed at this instant lands.
std::int64_t Landing(std::int64_t now) {
    return now + MillisecondsToNextMark(now);
}

}  // namespace

TEST(MillisecondsToNextMark, LandsOnTheNextMarkFromJustBeforeOnAndJustAfterIt) {
    EXPECT_EQ(Landing(kSecond - 1), kSecond);    // x.999: the new second is next
    EXPECT_EQ(Landing(kSecond), kSecond + 100);  // on the mark: this one has fired
    EXPECT_EQ(Landing(kSecond + 1), kSecond + 100);
    EXPECT_EQ(Landing(kSecond + 99), kSecond + 100);
    EXPECT_EQ(Landing(kSecond + 950), kSecond + 1000);
}

TEST(MillisecondsToNextMark, IsAlwaysBetweenOneAndOneHundred) {
    for (std::int64_t now = kSecond - 250; now < kSecond + 250; ++now) {
        int wait = MillisecondsToNextMark(now);
        ASSERT_GE(wait, 1);
        ASSERT_LE(wait, 100);
        ASSERT_EQ(Landing(now) % 100, 0);
    }
}

TEST(MillisecondsToNextMark, FollowsTheClockWhenItIsStepped) {
    // Stepped back an hour and forward a day, mid-period: the next tick is on the new clock's
    // next mark, with nothing owed from before.
    EXPECT_EQ(Landing(kSecond + 437 - 3'600'000), kSecond + 500 - 3'600'000);
    EXPECT_EQ(Landing(kSecond + 437 + 86'400'000), kSecond + 500 + 86'400'000);
    EXPECT_EQ(Landing(-1), 0);  // before 1970 as well
    EXPECT_EQ(Landing(-150), -100);
}

TEST(NextMark, WorksInNanosecondsToo) {
    const std::int64_t second = kSecond * 1'000'000;
    const std::int64_t period = 100'000'000;
    EXPECT_EQ(NextMark(second - 1, period), second);
    EXPECT_EQ(NextMark(second, period), second + period);
    EXPECT_EQ(NextMark(second + 99'999'999, period), second + period);
}

TEST(NextNeededMark, EachSecondsStartAndTheLastTenthOfTheOddOnes) {
    // kSecond is odd: its start, its last tenth, the even second's start, the next odd one's.
    std::vector<std::int64_t> marks;
    for (std::int64_t now = kSecond - 1; marks.size() < 5; now = marks.back()) {
        marks.push_back(NextNeededMark(now, 1000));
    }
    EXPECT_EQ(marks, (std::vector<std::int64_t>{kSecond, kSecond + 900, kSecond + 1000,
                                                kSecond + 2000, kSecond + 2900}));
    EXPECT_EQ(NextNeededMark(kSecond * 1'000'000 + 1, 1'000'000'000), (kSecond + 900) * 1'000'000);
}
