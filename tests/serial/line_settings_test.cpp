#include "serial/line_settings.h"

#include <gtest/gtest.h>

TEST(ParseLineSettings, ReadsTheFourFields) {
    EXPECT_EQ(ParseLineSettings("9600,n,8,1"), (LineSettings{9600, 'n', 8, StopBits::One}));
    EXPECT_EQ(ParseLineSettings("19200,E,7,2"), (LineSettings{19200, 'e', 7, StopBits::Two}));
    EXPECT_EQ(ParseLineSettings("110,s,5,1.5"), (LineSettings{110, 's', 5, StopBits::OneAndHalf}));
}

TEST(ParseLineSettings, TheEmittersSettingsAreTheDefaults) {
    EXPECT_EQ(ParseLineSettings(kLineSettings), LineSettings{});
}

TEST(ParseLineSettings, RejectsAnythingElse) {
    for (const char* bad :
         {"", "9600", "9600,n,8", "9600,n,8,1,x", "fast,n,8,1", "9600,x,8,1", "9600,n,9,1",
          "9600,n,8,3", "-9600,n,8,1", "9600 ,n,8,1", "99999999999,n,8,1", "9600,no,8,1"}) {
        EXPECT_EQ(ParseLineSettings(bad), std::nullopt) << bad;
    }
}
