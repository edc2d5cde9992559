#include "clock/time_reference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "log/event_log.h"
#include "settings/settings_file.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

TEST(TextToBoolean, AcceptsNumbersAndTheTwoWordsOnly) {
    EXPECT_EQ(TextToBoolean("0"), false);
    EXPECT_EQ(TextToBoolean("1"), true);
    EXPECT_EQ(TextToBoolean("-2.5"), true);
    EXPECT_EQ(TextToBoolean("True"), true);
    EXPECT_EQ(TextToBoolean("fALSE"), false);
    EXPECT_EQ(TextToBoolean(""), std::nullopt);
    EXPECT_EQ(TextToBoolean("yes"), std::nullopt);
    EXPECT_EQ(TextToBoolean("1x"), std::nullopt);
    EXPECT_EQ(TextToBoolean("inf"), std::nullopt);
}

class TimeReferenceTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path ini = settingsFilePath(dir.path());
    std::optional<bool> utcMode;
    TimeReference reference{utcMode, ini};

    std::string Saved(const char* key) { return ReadIniValue("SerialSync", key, "-", ini); }
};

TEST_F(TimeReferenceTest, FirstStartSelectsLocalAndSavesBothKeys) {
    reference.Restore();
    EXPECT_FALSE(reference.Selected(TimeReference::kUtc));
    EXPECT_TRUE(reference.Selected(TimeReference::kLocal));
    EXPECT_EQ(utcMode, false);
    EXPECT_EQ(ReadFile(ini), NativeLines("[SerialSync]\nTIMEUTC=False\nTIMELOCAL=True\n"));
}

TEST_F(TimeReferenceTest, AFileThatIsNotOursIsReadAndNeverWritten) {
    reference.savesChoice = false;
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    reference.Restore();
    EXPECT_TRUE(reference.Selected(TimeReference::kLocal));
    reference.Select(TimeReference::kUtc);
    EXPECT_EQ(utcMode, true);
    EXPECT_EQ(ReadFile(ini), "[SerialSync]\nCOMPORT=+COM3\n");
}

TEST_F(TimeReferenceTest, SavedUtcIsRestored) {
    WriteFile(ini, "[SerialSync]\nTIMEUTC=True\nTIMELOCAL=False\n");
    reference.Restore();
    EXPECT_TRUE(reference.Selected(TimeReference::kUtc));
    EXPECT_EQ(utcMode, true);
}

TEST_F(TimeReferenceTest, BothTrueEndsInUtcBecauseTheFirstClickRewritesLocal) {
    WriteFile(ini, "[SerialSync]\nTIMEUTC=True\nTIMELOCAL=True\n");
    reference.Restore();
    EXPECT_TRUE(reference.Selected(TimeReference::kUtc));
    EXPECT_FALSE(reference.Selected(TimeReference::kLocal));
    EXPECT_EQ(utcMode, true);
    EXPECT_EQ(Saved("TimeLocal"), "False");
}

TEST_F(TimeReferenceTest, BothFalseSelectsNothingAndLeavesTheFileAlone) {
    const std::string before = "[SerialSync]\ntimeutc=false\ntimelocal=0\n";
    WriteFile(ini, before);
    reference.Restore();
    EXPECT_FALSE(reference.Selected(TimeReference::kUtc));
    EXPECT_FALSE(reference.Selected(TimeReference::kLocal));
    EXPECT_EQ(utcMode, std::nullopt);
    EXPECT_EQ(ReadFile(ini), before);
}

TEST_F(TimeReferenceTest, ATextThatIsNoBooleanSkipsItsAssignment) {
    WriteFile(ini, "[SerialSync]\nTIMEUTC=maybe\nTIMELOCAL=True\n");
    reference.Restore();
    EXPECT_TRUE(reference.Selected(TimeReference::kLocal));
    EXPECT_EQ(utcMode, false);
}

TEST_F(TimeReferenceTest, SelectingAButtonSwitchesModeSavesAndTellsTheWindow) {
    int changes = 0;
    reference.onChanged = [&] { ++changes; };
    reference.Select(TimeReference::kUtc);
    EXPECT_EQ(utcMode, true);
    EXPECT_EQ(Saved("TimeUTC"), "True");
    EXPECT_EQ(Saved("TimeLocal"), "False");
    reference.Select(TimeReference::kLocal);
    EXPECT_EQ(utcMode, false);
    EXPECT_FALSE(reference.Selected(TimeReference::kUtc));
    EXPECT_EQ(Saved("TimeUTC"), "False");
    EXPECT_EQ(changes, 2);
}

TEST(TimeReferenceNotSaved, EachKeyThatCouldNotBeWrittenIsSaidByItsName) {
    TempDir dir;
    WriteFile(dir / "file", "");  // a file where the folders should be: nothing can be written
    ScopedEnv configHome("XDG_CONFIG_HOME", (dir / "file" / "config").string());
    ScopedEnv appData("APPDATA", (dir / "file" / "config").string());  // on Windows
    std::optional<bool> utcMode;
    TimeReference reference(utcMode, settingsFilePath(dir / "file"));
    std::vector<std::string> said;
    Log().SetOutput(
        [&](Priority, std::string_view text, std::int64_t) { said.emplace_back(text); });
    reference.Select(TimeReference::kUtc);
    Log().SetOutput({});
    EXPECT_EQ(utcMode, true);
    using ::testing::StartsWith;
    EXPECT_THAT(said, ::testing::ElementsAre(StartsWith("could not save TimeUTC=True"),
                                             StartsWith("could not save TimeLocal=False")));
}
