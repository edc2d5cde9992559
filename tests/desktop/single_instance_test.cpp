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
    // The cache folder whatever the session's runtime folder: a copy started from cron or
    // su - (none) and one from the desktop (its own) lock the same file.
    TempDir own;
    TempDir shared;
    ASSERT_EQ(::chmod(shared.path().c_str(), 0777), 0);
    ScopedEnv cache("XDG_CACHE_HOME", (dir / "cache").string());
    for (std::string runtime :
         {std::string("relative"), own.path().string(), shared.path().string()}) {
        ScopedEnv session("XDG_RUNTIME_DIR", runtime);
        std::filesystem::path lock = InstanceLockPath(settings);
        EXPECT_EQ(lock.parent_path(), dir / "cache" / "beamclock") << runtime;
        struct stat status {};
        ASSERT_EQ(::stat(lock.parent_path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
        ASSERT_EQ(::chmod(lock.parent_path().c_str(), 0775), 0);  // as a umask of 002 leaves it
    }
    {
        // No cache to be had (HOME is a file): the runtime folder, only when it is the user's
        // own, not one others may write (another user's, after su without -) nor a link to
        // one, with or without a trailing slash.
        ScopedEnv noCache("XDG_CACHE_HOME", "relative");
        std::ofstream(dir / "file").put('x');
        ScopedEnv home("HOME", (dir / "file").string());
        std::filesystem::create_directory_symlink(own.path(), dir / "link");
        ScopedEnv session("XDG_RUNTIME_DIR", own.path().string());
        EXPECT_EQ(InstanceLockPath(settings).parent_path(), own.path());
        for (std::string runtime : {shared.path().string(), (dir / "link").string() + "/"}) {
            ScopedEnv unusable("XDG_RUNTIME_DIR", runtime);
            EXPECT_EQ(InstanceLockPath(settings).parent_path().filename(),
                      "beamclock-" + std::to_string(::geteuid()))
                << runtime;
        }
    }
    // Someone else's file where the lock goes, held: not ours, so this copy runs.
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
