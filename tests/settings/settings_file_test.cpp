#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

class SettingsFile : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path ini = settingsFilePath(dir.path());
};

TEST_F(SettingsFile, LivesBesideTheProgram) {
    EXPECT_EQ(ini, dir.path() / "Skyfix.ini");
    EXPECT_EQ(settingsFilePath("/"), std::filesystem::path("/Skyfix.ini"));
}

TEST_F(SettingsFile, FirstStartReadsTheDefaults) {
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "None");
    EXPECT_EQ(ReadIniValue("SerialSync", "TimeUTC", "0", ini), "0");
    EXPECT_EQ(ReadIniValue("SerialSync", "TimeLocal", "1", ini), "1");
}

TEST_F(SettingsFile, KeysAreWrittenInCapitalsAndFoundAgain) {
    WriteIniValue("SerialSync", "TimeUTC", "True", ini);
    EXPECT_EQ(ReadFile(ini), NativeLines("[SerialSync]\nTIMEUTC=True\n"));
    EXPECT_EQ(ReadIniValue("SerialSync", "TimeUTC", "0", ini), "True");
}

TEST_F(SettingsFile, APortMarkedUnavailableComesBackWithoutItsBlank) {
    WriteIniValue("SerialSync", "COMPORT", " COM3", ini);
    EXPECT_NE(ReadFile(ini).find(NativeLines("COMPORT= COM3\n")), std::string::npos);
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "COM3");
}

TEST_F(SettingsFile, AHandEditedSmallLetterKeyIsFoundAndReplaced) {
    WriteFile(ini, "[SerialSync]\ntimelocal=True\n");
    EXPECT_EQ(ReadIniValue("SerialSync", "TimeLocal", "1", ini), "True");
    WriteIniValue("SerialSync", "TimeLocal", "False", ini);
    EXPECT_EQ(ReadFile(ini), "[SerialSync]\ntimelocal=False\n");
}

TEST_F(SettingsFile, AnUnwritableFileIsNoFailure) {
    WriteFile(dir / "file", "");
    ScopedEnv configHome("XDG_CONFIG_HOME", (dir / "file" / "config").string());  // nowhere either
    ScopedEnv appData("APPDATA", (dir / "file" / "config").string());             // on Windows
    std::filesystem::path impossible = settingsFilePath(dir / "file");
    WriteIniValue("SerialSync", "COMPORT", "+COM3", impossible);
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", impossible), "None");
}
