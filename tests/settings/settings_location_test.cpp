#include "settings/settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "serial/port_names.h"
#include "settings/settings_file.h"
#include "support/as_user.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using Why = SettingsLocation::Why;

// A program folder the unprivileged account may not write, and a config home it owns.
class SettingsLocationTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path program = dir / "program";
    fs::path beside = settingsFilePath(program);
    fs::path config = dir / "config";
    fs::path copy = config / "beamclock" / "Skyfix.ini";
    const std::string adminFile =
        "; set up by the administrator\r\n[SerialSync]\r\nCOMPORT=+COM5\r\n\r\n[Ports]\r\n"
        "COM5=/dev/serial/by-id/emitter\r\n";

    void SetUp() override {
        ::chmod(dir.path().c_str(), 0755);
        fs::create_directories(program);
        fs::create_directories(config);
        GiveToUnprivileged(config);
    }
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    void ReadOnlyProgramFolder() { ::chmod(program.c_str(), 0555); }
    std::string Read(const char* key) { return ReadIniValue("SerialSync", key, "-", beside); }
};

TEST_F(SettingsLocationTest, AWritableFolderKeepsTheFileBesideTheProgram) {
    GiveToUnprivileged(program);
    AsUnprivileged([&] {
        SettingsLocation where = LocateSettings(beside);
        EXPECT_EQ(where.why, Why::BesideTheProgram);
        WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
        EXPECT_EQ(Read("COMPORT"), "+COM3");
        EXPECT_TRUE(fs::exists(beside));
        EXPECT_FALSE(fs::exists(copy));
    });
}

TEST_F(SettingsLocationTest, AReadOnlyFolderWithoutAFileWritesAPerUserCopy) {
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(LocateSettings(beside).why, Why::PerUserNotYet);
        EXPECT_EQ(Read("COMPORT"), "-");
        WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
        EXPECT_EQ(LocateSettings(beside).why, Why::PerUserCopy);
        EXPECT_EQ(Read("COMPORT"), "+COM3");
        EXPECT_EQ(ReadFile(copy), "[SerialSync]\nCOMPORT=+COM3\n");
        EXPECT_FALSE(fs::exists(beside));
    });
}

TEST_F(SettingsLocationTest, AReadOnlyFolderWithAFileCopiesItWholeAtTheFirstWrite) {
    WriteFile(beside, adminFile);
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(Read("COMPORT"), "+COM5");  // before any write: the administrator's file
        EXPECT_FALSE(fs::exists(copy));
        WriteIniValue("SerialSync", "TimeUTC", "True", beside);
        EXPECT_EQ(ReadFile(copy),
                  "; set up by the administrator\r\n[SerialSync]\r\nCOMPORT=+COM5\r\n"
                  "TIMEUTC=True\r\n\r\n[Ports]\r\nCOM5=/dev/serial/by-id/emitter\r\n");
        EXPECT_EQ(PortNames::FromSettings(beside).DeviceFor(5), "/dev/serial/by-id/emitter");
    });
    EXPECT_EQ(ReadFile(beside), adminFile);  // byte for byte as it was
}

TEST_F(SettingsLocationTest, AFileTheUserMayNotReadIsNeverCopiedSoItIsReadOnceMended) {
    WriteFile(beside, adminFile);
    ::chmod(beside.c_str(), 0600);  // root's
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(FindUnreadableSettings(beside).why, "permission denied");
        EXPECT_FALSE(WriteIniValue("SerialSync", "TimeUTC", "True", beside));
        EXPECT_FALSE(fs::exists(copy));
    });
    ::chmod(beside.c_str(), 0644);
    AsUnprivileged([&] { EXPECT_EQ(Read("COMPORT"), "+COM5"); });
}

TEST_F(SettingsLocationTest, AWritableFileInAReadOnlyFolderIsUpdatedInPlace) {
    WriteFile(beside, adminFile);
    GiveToUnprivileged(beside);
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(LocateSettings(beside).why, Why::BesideTheProgram);
        WriteIniValue("SerialSync", "COMPORT", "+COM12", beside);
        EXPECT_EQ(Read("COMPORT"), "+COM12");
        WriteIniValue("SerialSync", "COMPORT", "+COM1", beside);  // shorter: cut to length
        EXPECT_EQ(Read("COMPORT"), "+COM1");
    });
    std::string expected = adminFile;
    expected.replace(expected.find("+COM5"), 5, "+COM1");
    EXPECT_EQ(ReadFile(beside), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(program), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(copy));
}

// A file that cannot be decoded is never copied; a UTF-16LE one stays so when it is changed in
// place and in the per-user copy made from it.
TEST_F(SettingsLocationTest, EveryWriteKeepsAUtf16FileUtf16AndNoneTouchesAnUndecodableOne) {
    WriteFile(beside, std::string("\xFE\xFF\0[\0S\0]", 8));  // UTF-16BE
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(FindUnreadableSettings(beside).why.substr(0, 19), "it is UTF-16BE text");
        EXPECT_FALSE(WriteIniValue("SerialSync", "COMPORT", "+COM1", beside));
        EXPECT_FALSE(fs::exists(copy));
    });
    WriteFile(beside, Utf16Le(adminFile));
    GiveToUnprivileged(beside);
    AsUnprivileged([&] { EXPECT_TRUE(WriteIniValue("SerialSync", "COMPORT", "+COM1", beside)); });
    std::string expected = adminFile;
    EXPECT_EQ(ReadFile(beside), Utf16Le(expected.replace(expected.find("+COM5"), 5, "+COM1")));
    ::chmod(beside.c_str(), 0444);
    AsUnprivileged([&] { EXPECT_TRUE(WriteIniValue("SerialSync", "COMPORT", "+COM2", beside)); });
    EXPECT_EQ(ReadFile(copy), Utf16Le(expected.replace(expected.find("+COM1"), 5, "+COM2")));
}

TEST_F(SettingsLocationTest, AnExistingPerUserCopyIsTheOnlyOneRead) {
    WriteFile(beside, adminFile);
    fs::create_directories(copy.parent_path());
    WriteFile(copy, "[SerialSync]\nCOMPORT=None\n");
    GiveToUnprivileged(copy.parent_path());
    GiveToUnprivileged(copy);
    ReadOnlyProgramFolder();
    AsUnprivileged([&] {
        EXPECT_EQ(LocateSettings(beside).why, Why::PerUserCopy);
        EXPECT_EQ(Read("COMPORT"), "None");
        EXPECT_EQ(PortNames::FromSettings(beside).DeviceFor(5), DefaultDeviceForPort(5));
    });
}

// The program installed into the system's program folder, even one it may write (root).
class InstalledProgramTest : public SettingsLocationTest {
  protected:
    fs::path xdg = dir / "xdg";
    fs::path defaults = xdg / "beamclock" / "Skyfix.ini";
    ScopedEnv configDirs{"XDG_CONFIG_DIRS",
                         "relative:" + (dir / "none").string() + ":" + xdg.string()};
    void SetUp() override {
        SettingsLocationTest::SetUp();
        GiveToUnprivileged(program);
        UseInstalledProgramFolders({"/nonexistent/bin", program});
    }
    void TearDown() override { UseInstalledProgramFolders(kept); }
    std::vector<fs::path> kept = InstalledProgramFolders();
};

TEST_F(InstalledProgramTest, TheFirstStartCopiesTheDefaultsAndNothingLandsBesideTheProgram) {
    fs::create_directories(defaults.parent_path());
    WriteFile(defaults, adminFile);
    AsUnprivileged([&] {
        SettingsLocation where = LocateSettings(beside);
        EXPECT_EQ(where.why, Why::InstalledNotYet);
        EXPECT_EQ(where.read, defaults);
        EXPECT_EQ(Read("COMPORT"), "+COM5");
        PrepareSettingsAtStart(beside);
        EXPECT_EQ(ReadFile(copy), adminFile);
        EXPECT_EQ(LocateSettings(beside).why, Why::Installed);
        WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
        EXPECT_EQ(Read("COMPORT"), "+COM3");
        EXPECT_EQ(PortNames::FromSettings(beside).DeviceFor(5), "/dev/serial/by-id/emitter");
    });
    EXPECT_TRUE(fs::is_empty(program));
    EXPECT_EQ(ReadFile(defaults), adminFile);
}

TEST_F(InstalledProgramTest, DefaultsInAFolderTheUserMayNotSearchAreNamedAndNeverCopiedEmpty) {
    fs::create_directories(defaults.parent_path());
    WriteFile(defaults, adminFile);
    ::chmod(defaults.parent_path().c_str(), 0700);  // made by sudo mkdir under a umask of 077
    fs::path later = dir / "later" / "beamclock" / "Skyfix.ini";  // must not stand in for it
    fs::create_directories(later.parent_path());
    WriteFile(later, "[SerialSync]\nCOMPORT=+COM9\n");
    ScopedEnv both{"XDG_CONFIG_DIRS", xdg.string() + ":" + (dir / "later").string()};
    AsUnprivileged([&] {
        PrepareSettingsAtStart(beside);
        UnreadableSettings unread = FindUnreadableSettings(beside);
        EXPECT_EQ(unread.file, defaults);
        EXPECT_EQ(unread.why, "permission denied");
        EXPECT_FALSE(WriteIniValue("SerialSync", "COMPORT", "+COM3", beside));
        EXPECT_FALSE(fs::exists(copy));
    });
    ::chmod(defaults.parent_path().c_str(), 0755);
    AsUnprivileged([&] {
        PrepareSettingsAtStart(beside);
        EXPECT_EQ(ReadFile(copy), adminFile);
        EXPECT_TRUE(FindUnreadableSettings(beside).file.empty());
    });
}

TEST_F(InstalledProgramTest, WithoutDefaultsTheFirstWriteMakesThePerUserFile) {
    UseInstalledProgramFolders({dir / "program" / ".." / "program"});  // named otherwise
    AsUnprivileged([&] {
        PrepareSettingsAtStart(beside);
        EXPECT_FALSE(fs::exists(copy));
        EXPECT_EQ(Read("COMPORT"), "-");
        WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
        EXPECT_EQ(ReadFile(copy), "[SerialSync]\nCOMPORT=+COM3\n");
    });
    EXPECT_TRUE(fs::is_empty(program));
}

TEST_F(InstalledProgramTest, WithoutAHomeNothingIsWritten) {
    fs::create_directories(defaults.parent_path());
    WriteFile(defaults, adminFile);
    ScopedEnv noConfigHome("XDG_CONFIG_HOME", "relative");  // relative ones count as none
    ScopedEnv noHome("HOME", "relative");
    EXPECT_EQ(LocateSettings(beside).why, Why::InstalledNoHome);
    EXPECT_EQ(Read("COMPORT"), "+COM5");
    WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
    EXPECT_TRUE(fs::is_empty(program));
    EXPECT_EQ(ReadFile(defaults), adminFile);
}

TEST_F(InstalledProgramTest, RootWithAnotherUsersHomeLeavesThatHomeAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can be handed another user's HOME";
    }
    fs::create_directories(defaults.parent_path());
    WriteFile(defaults, adminFile);
    TempDir userHome;
    GiveToUnprivileged(userHome.path());
    ScopedEnv noConfigHome("XDG_CONFIG_HOME", "relative");
    ScopedEnv home("HOME", userHome.path().string());  // as sudo -E leaves it
    PrepareSettingsAtStart(beside);
    EXPECT_EQ(Read("COMPORT"), "+COM5");
    WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
    EXPECT_TRUE(fs::is_empty(userHome.path()));
    EXPECT_TRUE(fs::is_empty(program));
}

TEST_F(SettingsLocationTest, AFileTheCallerNamesIsReadAndWrittenAsItIs) {
    WriteFile(beside, adminFile);
    fs::create_directories(copy.parent_path());
    WriteFile(copy, "[SerialSync]\nCOMPORT=None\n");
    GiveToUnprivileged(copy);
    ReadOnlyProgramFolder();
    TakeSettingsFileAsGiven(beside);
    AsUnprivileged([&] {
        EXPECT_EQ(LocateSettings(beside).why, Why::AsGiven);
        EXPECT_EQ(Read("COMPORT"), "+COM5");
        WriteIniValue("SerialSync", "COMPORT", "+COM3", beside);
    });
    TakeSettingsFileAsGiven({});
    EXPECT_EQ(ReadFile(beside), adminFile);
    EXPECT_EQ(ReadFile(copy), "[SerialSync]\nCOMPORT=None\n");
}

TEST(SettingsLocationHome, FallsBackToHomeAndIgnoresARelativeConfigHome) {
    ScopedEnv configHome("XDG_CONFIG_HOME", "relative/config");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(LocateSettings("/usr/bin/Skyfix.ini").perUser,
              fs::path("/home/someone/.config/beamclock/Skyfix.ini"));
}
