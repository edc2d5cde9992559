// Settings files that are huge, shared with a crash, or on a disk that will not take them.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "settings/profile_file.h"
#include "settings/settings_file.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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
        mounted = ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
    }
    void TearDown() override {
        if (mounted) {
            ::umount(mountPoint.c_str());
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
    {
        std::ofstream filler(mountPoint / "filler", std::ios::binary);
        std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler.write(block.data(), 4096); ++i) {
        }
    }
    EXPECT_FALSE(WriteProfileString(ini, "SerialSync", "COMPORT", "+COM4"));
    EXPECT_EQ(ReadFile(ini), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mountPoint),
                            std::filesystem::directory_iterator()),
              2);  // no temporary file left behind
}
