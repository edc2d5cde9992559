// Settings files that are huge, shared with a crash, or on a disk that will not take them, and
// what a write leaves beside them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "settings/profile_file.h"
#include "settings/settings_file.h"
#include "support/as_user.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(HostileSettingsFiles, TenMegabytesAndAHundredThousandSectionsStillRead) {
    TempDir dir;
    auto ini = settingsFilePath(dir.path());
    std::string content;
    for (int i = 0; i < 100'000; ++i) {
        content += "[Section" + std::to_string(i) + "]\nkey=" + std::string(82, 'v') + "\n";
    }
    content += "[SerialSync]\nCOMPORT=+COM3\n";
    ASSERT_GT(content.size(), 10'000'000u);
    WriteFile(ini, content);
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "+COM3");
    WriteIniValue("SerialSync", "TIMEUTC", "True", ini);
    EXPECT_EQ(ReadFile(ini), content + "TIMEUTC=True\n");
}

TEST(HostileSettingsFiles, AFileLargerThanTheLimitIsLeftAlone) {
    TempDir dir;
    auto ini = settingsFilePath(dir.path());
    {
        std::ofstream out(ini, std::ios::binary);
        out << "[SerialSync]\nCOMPORT=+COM3\n";
        out.seekp(static_cast<std::streamoff>(kMaxProfileFileBytes));  // sparse: no real disk
        out << "\n";
    }
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "None");
    EXPECT_EQ(WhyProfileUnreadable(ini), "it is larger than 64 MiB");
    EXPECT_FALSE(WriteProfileString(ini, "SerialSync", "COMPORT", "+COM4"));
    EXPECT_EQ(std::filesystem::file_size(ini), kMaxProfileFileBytes + 1);
}

// A writer killed at any moment leaves the complete old file or the complete new one.
TEST(HostileSettingsFiles, KilledWhileWritingLeavesTheOldFileOrTheNew) {
    TempDir dir;
    auto ini = settingsFilePath(dir.path());
    const std::string padding = "[Other]\nnote=" + std::string(200'000, 'x') + "\n";
    WriteFile(ini, padding + "[SerialSync]\nCOMPORT=+COM1\n");
    std::mt19937 random(20261207);
    for (int round = 0; round < 25; ++round) {
        pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (int i = 0;; ++i) {
                WriteIniValue("SerialSync", "COMPORT", i % 2 ? "+COM2" : "+COM1", ini);
            }
        }
        usleep(std::uniform_int_distribution<useconds_t>(1'000, 30'000)(random));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        std::string after = ReadFile(ini);
        EXPECT_TRUE(after == padding + "[SerialSync]\nCOMPORT=+COM1\n" ||
                    after == padding + "[SerialSync]\nCOMPORT=+COM2\n")
            << "round " << round << ", " << after.size() << " bytes";
    }
}

// A small file system of our own: even root cannot write to it once it is read-only or full.
class OwnFileSystem : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path mountPoint = dir / "fs";
    bool mounted = false;

    void SetUp() override {
        std::filesystem::create_directory(mountPoint);
        // A mount namespace of this test's own: no other process sees the mount, and it goes
        // with the test however the test ends.
        mounted = ::unshare(CLONE_NEWNS) == 0 &&
                  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                  ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
    }
    void TearDown() override {
        if (mounted) {
            ::umount(mountPoint.c_str());
        }
    }
    void FillUp() {
        std::ofstream filler(mountPoint / "filler", std::ios::binary);
        std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler.write(block.data(), 4096); ++i) {
        }
    }
};

TEST_F(OwnFileSystem, AReadOnlyDirectoryKeepsItsFileAndTheChoiceGoesToThePerUserCopy) {
    auto ini = settingsFilePath(mountPoint);
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    ASSERT_EQ(::mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    {
        ScopedEnv configHome("XDG_CONFIG_HOME", (mountPoint / "config").string());  // read-only too
        WriteIniValue("SerialSync", "COMPORT", "+COM4", ini);
        EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "+COM3");
    }
    ScopedEnv configHome("XDG_CONFIG_HOME", (dir / "config").string());
    WriteIniValue("SerialSync", "COMPORT", "+COM4", ini);
    EXPECT_EQ(ReadIniValue("SerialSync", "COMPORT", "None", ini), "+COM4");
    EXPECT_EQ(ReadFile(ini), "[SerialSync]\nCOMPORT=+COM3\n");
}

TEST_F(OwnFileSystem, AFullDiskKeepsTheOldFile) {
    auto ini = settingsFilePath(mountPoint);
    const std::string before =
        "[SerialSync]\nCOMPORT=+COM3\nnote=" + std::string(20'000, 'n') + "\n";
    WriteFile(ini, before);
    FillUp();
    EXPECT_FALSE(WriteProfileString(ini, "SerialSync", "COMPORT", "+COM4"));
    EXPECT_EQ(ReadFile(ini), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mountPoint),
                            std::filesystem::directory_iterator()),
              2);  // no temporary file left behind
}

// The user may write the file but not its folder, so it is changed in place: a change that
// needs room the disk does not have is never begun, and one that needs none still goes in.
TEST_F(OwnFileSystem, AFullDiskNeverTearsAFileRewrittenInPlace) {
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(mountPoint.c_str(), 0755);
    auto ini = settingsFilePath(mountPoint);
    // One page of the tmpfs: an added key needs a second one.
    std::string before = "[SerialSync]\nCOMPORT=+COM5\n;" + std::string(4021, 'n') +
                         "\n\n[Ports]\nCOM5=/dev/serial/by-id/emitter\n";
    ASSERT_EQ(before.size(), 4090u);
    WriteFile(ini, before);
    GiveToUnprivileged(ini);
    FillUp();
    AsUnprivileged([&] {
        EXPECT_FALSE(WriteProfileString(ini, "SerialSync", "TIMEUTC", "False"));
        EXPECT_TRUE(ReadFile(ini) == before) << "torn";
        EXPECT_TRUE(WriteProfileString(ini, "SerialSync", "COMPORT", "None"));
    });
    EXPECT_TRUE(ReadFile(ini) == before.replace(before.find("+COM5"), 5, "None"));
}

// A write killed outright (SIGKILL) leaves its temporary file: the next write removes the
// user's own that are old enough to be nobody's write under way, and nothing else.
TEST(HostileSettingsFiles, TheNextWriteRemovesOnlyTheUsersOwnOldLeftovers) {
    TempDir dir;
    std::set<std::string> kept = {"Skyfix.ini", ".Skyfix.ini.a1B2c", ".Other.ini.a1B2c3",
                                  ".Skyfix.ini.others"};
    for (const std::string& name : kept) {
        WriteFile(dir / name, "");
    }
    WriteFile(dir / ".Skyfix.ini.a1B2c3", "");
    GiveToUnprivileged(dir / ".Skyfix.ini.others");  // another user's where the test is root
    timespec old[2] = {{std::time(nullptr) - 120, 0}, {std::time(nullptr) - 120, 0}};
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ::utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
    }
    WriteFile(dir / ".Skyfix.ini.fresh1", "");  // another copy may be writing it now
    kept.insert(".Skyfix.ini.fresh1");
    ASSERT_TRUE(WriteProfileString(dir / "Skyfix.ini", "S", "K", "v"));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, kept);
}

TEST(HostileSettingsFiles, ANewFileTakesTheUmaskAndAnOldOneKeepsItsMode) {
    TempDir dir;
    auto ini = dir / "Skyfix.ini";
    struct stat status {};
    mode_t saved = ::umask(027);
    ASSERT_TRUE(WriteProfileString(ini, "S", "K", "1") && ::stat(ini.c_str(), &status) == 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    ::chmod(ini.c_str(), 0604);
    ASSERT_TRUE(WriteProfileString(ini, "S", "K", "2") && ::stat(ini.c_str(), &status) == 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    ::umask(saved);
}
