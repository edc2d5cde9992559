#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "log/log_file.h"
#include "settings/settings_location.h"
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

#ifdef _WIN32
// A user called Дмитрий on a Western Windows: the ANSI code page cannot name the profile's
// folders, so the per-user settings and the log must take them as Windows gives them, wide.
TEST_F(SettingsFile, FoldersTheAnsiCodePageCannotNameAreKeptAsTheyAre) {
    std::filesystem::path profile = dir.path() / L"\u0414\u043c\u0438\u0442\u0440\u0438\u0439";
    auto set = [](const wchar_t* name, const std::filesystem::path& value) {
        std::wstring old = ::_wgetenv(name) != nullptr ? ::_wgetenv(name) : L"";
        ::_wputenv_s(name, value.c_str());
        return old;
    };
    std::wstring oldAppData = set(L"APPDATA", profile / "Roaming");
    std::wstring oldLocal = set(L"LOCALAPPDATA", profile / "Local");
    EXPECT_EQ(LocateSettings(ini).perUser, profile / "Roaming" / "beamclock" / "Skyfix.ini");
    EXPECT_EQ(LogFilePath(), profile / "Local" / "beamclock" / "beamclock.log");
    set(L"APPDATA", oldAppData);
    set(L"LOCALAPPDATA", oldLocal);
}
#endif
