#include "serial/termios_serial_port.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include "clock/packet.h"
#include "serial/port_list.h"
#include "serial/port_selection.h"
#include "settings/settings_file.h"
#include "support/as_user.h"
#include "support/foreign_lock_file.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

class TermiosSerialPortTest : public ::testing::Test {
  protected:
    PtyPair line;
    PortNames names = [this] {
        PortNames mapped;
        mapped.Override(3, line.device());
        return mapped;
    }();
    TermiosSerialPort port{[this] { return names; }};

    void SetUp() override {
        port.SetCommPort(3);
        port.SetSettings("9600,n,8,1");
    }
};

TEST_F(TermiosSerialPortTest, WritesExactlyThePacketAt9600Baud8N1) {
    ASSERT_TRUE(port.Open());
    EXPECT_TRUE(port.PortOpen());
    const ClockPacket packet = BuildLocalPacket("14:05:09", "12-06-2026");
    EXPECT_TRUE(port.Output(packet));
    EXPECT_EQ(line.Read(100, 500ms), packet);  // nothing before, nothing after

    termios line_settings{};
    ASSERT_EQ(::tcgetattr(line.master(), &line_settings), 0);
    EXPECT_EQ(::cfgetospeed(&line_settings), static_cast<speed_t>(B9600));
    EXPECT_EQ(line_settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line_settings.c_cflag & PARENB, 0u);
    EXPECT_EQ(line_settings.c_cflag & CSTOPB, 0u);
}

TEST_F(TermiosSerialPortTest, CloseReleasesTheDevice) {
    ASSERT_TRUE(port.Open());
    EXPECT_FALSE(IsComPortAvailable(3, names));
    port.Close();
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(port.Output("*"));
    EXPECT_TRUE(IsComPortAvailable(3, names));
    EXPECT_TRUE(port.Open());
}

TEST_F(TermiosSerialPortTest, ADeviceHeldByAnotherProgramCannotBeHad) {
    int other = ::open(line.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);  // as picocom holds a port
    EXPECT_FALSE(IsComPortAvailable(3, names));
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.PortOpen());
    ::flock(other, LOCK_UN);

    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);  // as Qt and screen hold a port
    EXPECT_FALSE(IsComPortAvailable(3, names));
    EXPECT_FALSE(port.Open());
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    EXPECT_TRUE(port.Open());
}

TEST_F(TermiosSerialPortTest, ASecondCopyOfTheProgramCannotShareThePort) {
    ASSERT_TRUE(port.Open());
    TermiosSerialPort second([this] { return names; });
    second.SetCommPort(3);
    EXPECT_FALSE(second.Open());
}

TEST_F(TermiosSerialPortTest, InvalidLineSettingsMakeTheOpenFail) {
    port.SetSettings("9600,n,9,1");
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(TermiosSerialPortTest, WritesFailWithoutAHangOnceTheLineHasGone) {
    ASSERT_TRUE(port.Open());
    line.CloseLine();
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(port.Output(BuildLocalPacket("14:05:10", "12-06-2026")));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    port.Close();
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(TermiosSerialPortTest, AVanishedLineIsLetGoWithoutAWrite) {
    KeptPort kept(port);
    ASSERT_TRUE(kept.Open());
    EXPECT_FALSE(port.Vanished());
    line.CloseLine();
    EXPECT_TRUE(port.Vanished());
    kept.Reopen();
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(kept.chosen());
}

// Another user's lock file, naming a process this user may not signal or one that has ended,
// neither keeps an ordinary user's open out nor is touched; and the port writes none itself.
TEST_F(TermiosSerialPortTest, LockFilesOfOtherUsersDecideNothing) {
    ForeignLockFile lock(line.device());
    GiveToUnprivileged(line.device());
    AsUnprivileged([&] { EXPECT_TRUE(port.Open()); });
    EXPECT_FALSE(std::filesystem::exists(lock.path));

    for (pid_t named : {pid_t{1}, EndedProcess()}) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(named));
        WriteFile(lock.path, text);
        AsUnprivileged([&] {
            ASSERT_TRUE(port.Open()) << "lock file naming " << named;
            EXPECT_TRUE(port.Output("*"));
        });
        EXPECT_EQ(line.Read(1, 500ms), "*");
        EXPECT_EQ(ReadFile(lock.path), text);
    }
}

// A copy of the program killed outright leaves nothing behind that keeps the next start out,
// although the pseudo-terminal outlives it.
TEST_F(TermiosSerialPortTest, AHolderKilledOutrightLeavesThePortFree) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        char opened = port.Open() ? 'y' : 'n';
        [[maybe_unused]] ssize_t told = ::write(ready[1], &opened, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    pollfd told{ready[0], POLLIN, 0};
    char opened = 'n';
    if (::poll(&told, 1, 5000) != 1 || ::read(ready[0], &opened, 1) != 1) {
        opened = 'n';
    }
    ::close(ready[0]);
    TermiosSerialPort next([this] { return names; });
    next.SetCommPort(3);
    bool openedBeside = next.Open();

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(opened, 'y');
    EXPECT_FALSE(openedBeside);
    EXPECT_TRUE(IsComPortAvailable(3, names));
    ASSERT_TRUE(next.Open());
    const ClockPacket packet = BuildLocalPacket("14:05:12", "12-06-2026");
    EXPECT_TRUE(next.Output(packet));
    EXPECT_EQ(line.Read(100, 500ms), packet);
}

TEST_F(TermiosSerialPortTest, ANonTerminalDeviceNeverOpens) {
    TempDir dir;
    WriteFile(dir / "plain", "");
    names.Override(4, (dir / "plain").string());
    TermiosSerialPort onFile([this] { return names; });
    onFile.SetCommPort(4);
    EXPECT_FALSE(onFile.Open());
    EXPECT_EQ(ReadFile(dir / "plain"), "");
}

// The emitter is pulled out and plugged in again, under the same stable name: writes fail
// quietly meanwhile, and choosing the port again brings the packets back.
TEST(EmitterReplugged, ChoosingThePortAgainReopensIt) {
    TempDir dir;
    auto ini = settingsFilePath(dir.path());
    std::filesystem::path stableName = dir / "emitter";
    auto first = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(first->device(), stableName);
    PortNames names;
    names.Override(3, stableName.string());
    TermiosSerialPort port([&names] { return names; });
    KeptPort kept(port);
    int warnings = 0;
    ChooseListEntry("+COM3", kept, ini, [&] { ++warnings; });
    ASSERT_TRUE(port.PortOpen());

    first.reset();  // pulled out
    EXPECT_FALSE(port.Output("*"));
    EXPECT_TRUE(port.PortOpen());  // nobody watches for it; the user sees no packets arrive

    PtyPair second;  // plugged in again
    std::filesystem::remove(stableName);
    std::filesystem::create_symlink(second.device(), stableName);
    ChooseListEntry("+COM3", kept, ini, [&] { ++warnings; });
    EXPECT_EQ(warnings, 0);
    const ClockPacket packet = BuildLocalPacket("14:05:10", "12-06-2026");
    EXPECT_TRUE(port.Output(packet));
    EXPECT_EQ(second.Read(100, 500ms), packet);
}
