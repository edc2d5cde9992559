#include "clock/packet.h"

#include <gtest/gtest.h>

TEST(BuildLocalPacket, CutsFieldsByPositionSmallestUnitFirst) {
    EXPECT_EQ(BuildLocalPacket("14:05:09", "12-06-2026"), "*090514061220260000000001000000000#");
    EXPECT_EQ(BuildLocalPacket("00:00:00", "01-01-2027"), "*000000010120270000000001000000000#");
    EXPECT_EQ(BuildLocalPacket("23:59:59", "12-31-2026"), "*595923311220260000000001000000000#");
}

TEST(BuildLocalPacket, MalformedTextsStillGiveAFullLengthPacket) {
    for (auto [time, date] :
         {std::pair{"", ""}, std::pair{"1:2", "x"}, std::pair{"14:05:09", ""}}) {
        ClockPacket packet = BuildLocalPacket(time, date);
        EXPECT_EQ(packet.size(), kPacketLength) << packet;
        EXPECT_EQ(packet.back(), '#');
    }
}

TEST(BuildUtcPacket, PadsLikeTheLocalTexts) {
    EXPECT_EQ(BuildUtcPacket({2026, 12, 6, 9, 0, 0}), "*000009061220260000000001000000000#");
    EXPECT_EQ(BuildUtcPacket({2026, 12, 6, 14, 5, 9}), BuildLocalPacket("14:05:09", "12-06-2026"));
}

TEST(BuildUtcPacket, YearIsPaddedWithBlanksAndKeepsItsLastFourDigits) {
    EXPECT_EQ(BuildUtcPacket({999, 1, 2, 3, 4, 5}).substr(11, 4), " 999");
    EXPECT_EQ(BuildUtcPacket({12345, 1, 2, 3, 4, 5}).substr(11, 4), "2345");
    EXPECT_EQ(BuildUtcPacket({9999, 12, 31, 23, 59, 59}), "*595923311299990000000001000000000#");
}

TEST(ClockPacket, EveryPacketKeepsTheFixedLayout) {
    for (int hour = 0; hour < 24; hour += 5) {
        for (int second = 0; second < 60; second += 7) {
            ClockPacket packet = BuildUtcPacket({2026, 2, 28, hour, 30, second});
            ASSERT_EQ(packet.size(), kPacketLength);
            EXPECT_EQ(packet.front(), '*');
            EXPECT_EQ(packet.back(), '#');
            EXPECT_EQ(packet[24], '1');  // position 25, counted from 1
            ParsedPacket parsed = ParseClockPacket(packet);
            ASSERT_TRUE(parsed.value) << parsed.error;
            EXPECT_EQ(*parsed.value, (CalendarValue{2026, 2, 28, hour, 30, second}));
        }
    }
}

TEST(ParseClockPacket, SaysWhatIsWrong) {
    const std::string good = "*090514061220260000000001000000000#";
    EXPECT_TRUE(ParseClockPacket(good).value);
    EXPECT_NE(ParseClockPacket(good.substr(1)).error.find("34 bytes"), std::string::npos);
    EXPECT_NE(ParseClockPacket("#" + good.substr(1)).error.find("'*'"), std::string::npos);
    EXPECT_NE(ParseClockPacket(good.substr(0, 34) + "X").error.find("tail"), std::string::npos);
    EXPECT_NE(ParseClockPacket("*09051406122O26" + good.substr(15)).error.find("digits"),
              std::string::npos);
    EXPECT_NE(ParseClockPacket("*600514061220260000000001000000000#").error.find("time"),
              std::string::npos);
    EXPECT_NE(ParseClockPacket("*090514061320260000000001000000000#").error.find("date"),
              std::string::npos);
}
