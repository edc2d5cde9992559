#include "desktop/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/as_user.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

// A child that sleeps until the test ends it, as uid (when root may choose) under its own name
// or this program's.
pid_t Sleeper(bool asSleep, uid_t uid) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && uid != 0 && ::setresuid(uid, uid, uid) != 0) {
            ::_exit(99);
        }
        if (asSleep) {
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        }
        ::pause();
        ::_exit(0);
    }
    // Until the child has become what it is meant to be: its name, then its user.
    for (int i = 0; i < 200; ++i) {
        std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
        std::string name;
        std::getline(comm, name);
        struct stat status {};
        if ((name == "sleep") == asSleep &&
            ::stat(("/proc/" + std::to_string(child)).c_str(), &status) == 0 &&
            status.st_uid == (uid == 0 ? ::geteuid() : uid)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return child;
}

void End(pid_t child) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace

TEST(SingleInstance, OnlyABeamclockOfTheSameUserIsAskedToShowItself) {
    EXPECT_TRUE(IsOwnProgram(::getpid()));
    pid_t sleeper = Sleeper(true, 0);
    EXPECT_FALSE(IsOwnProgram(sleeper));  // the user's own, but another program
    End(sleeper);
    if (::geteuid() == 0) {
        pid_t twin = Sleeper(false, UnprivilegedUid());
        EXPECT_FALSE(IsOwnProgram(twin));  // this program, but another user's
        End(twin);
    }
}

TEST(SingleInstance, TheLockIsKeptInAFolderAndAFileOfTheUsersOwn) {
    TempDir dir;
    std::filesystem::path settings = dir / "Skyfix.ini";
    // A relative runtime folder counts as none; so does one others may write, as another
    // user's inherited through su without - would be.
    TempDir shared;
    ASSERT_EQ(::chmod(shared.path().c_str(), 0777), 0);
    for (std::string unusable : {std::string("relative"), shared.path().string()}) {
        ScopedEnv runtime("XDG_RUNTIME_DIR", unusable);
        ScopedEnv cache("XDG_CACHE_HOME", (dir / "cache").string());
        std::filesystem::path lock = InstanceLockPath(settings);
        EXPECT_EQ(lock.parent_path(), dir / "cache" / "beamclock") << unusable;
        struct stat status {};
        ASSERT_EQ(::stat(lock.parent_path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
    // Someone else's file where the lock goes, held: not ours, so this copy runs.
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    std::filesystem::path lock = InstanceLockPath(settings);
    int planted = ::open(lock.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(::flock(planted, LOCK_EX), 0);
    if (::geteuid() == 0) {
        GiveToUnprivileged(lock);
        SingleInstance instance;
        EXPECT_TRUE(instance.Claim(settings));
        ASSERT_EQ(::fchown(planted, ::geteuid(), ::getegid()), 0);
    }
    // Our own file, held by a copy under another program name (the pid it wrote is not a
    // Beamclock): still one copy, and nothing signalled.
    pid_t other = Sleeper(true, 0);
    std::string pid = std::to_string(other) + "\n";
    ASSERT_EQ(::pwrite(planted, pid.data(), pid.size(), 0), static_cast<ssize_t>(pid.size()));
    SingleInstance second;
    EXPECT_FALSE(second.Claim(settings));
    EXPECT_EQ(::waitpid(other, nullptr, WNOHANG), 0);
    End(other);
    ::close(planted);
}

TEST(SingleInstance, AUserWithoutAHomeStillHasAFolderOfItsOwnAndRootLeavesOtherHomesAlone) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", "relative");
    ScopedEnv cache("XDG_CACHE_HOME", "relative");
    {
        ScopedEnv home("HOME", "/nonexistent");
        AsUnprivileged([&] {
            std::filesystem::path lock = InstanceLockPath(dir / "Skyfix.ini");
            ASSERT_FALSE(lock.empty());  // else a second copy would run beside the first
            struct stat status {};
            ASSERT_EQ(::lstat(lock.parent_path().c_str(), &status), 0);
            EXPECT_EQ(status.st_uid, ::geteuid());
            EXPECT_EQ(status.st_mode & 0777, 0700u);
        });
        std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                    ("beamclock-" + std::to_string(UnprivilegedUid())));
    }
    if (::geteuid() == 0) {  // as under sudo -E: HOME is another user's
        GiveToUnprivileged(dir.path());
        ScopedEnv home("HOME", dir.path().string());
        EXPECT_FALSE(InstanceLockPath(dir / "Skyfix.ini").empty());
        EXPECT_FALSE(std::filesystem::exists(dir / ".cache"));
    }
}
