#include "desktop/tray_state.h"

#include <gtest/gtest.h>

TEST(TrayNotices, OnceAfterAMinuteLostAndOnceWhenBackAfterThat) {
    constexpr auto F = SendingLook::Failing, S = SendingLook::Sending;
    TrayNotices notices;
    auto said = [&](SendingLook look, std::int64_t at) { return notices.Check(look, at); };
    EXPECT_FALSE(said(S, 0) || said(F, 1000) || said(S, 50000));  // a replug is no news
    EXPECT_FALSE(said(F, 52000) || said(F, 111900));
    EXPECT_EQ(said(F, 112000), TrayNotices::Notice::Lost);
    EXPECT_EQ(said(F, 900000), std::nullopt);  // once
    EXPECT_EQ(said(S, 900100), TrayNotices::Notice::Back);
    said(F, 1000000);
    EXPECT_EQ(said(F, 1060000), TrayNotices::Notice::Lost);
    EXPECT_FALSE(said(SendingLook::NotChosen, 1060100) || said(S, 1070000));  // given up on
}
