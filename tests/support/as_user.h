#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

// The account the permission cases run as: tests run as root, and root passes every
// permission check these cases are about.
inline uid_t UnprivilegedUid() {
    passwd* nobody = ::getpwnam("nobody");
    return ::geteuid() != 0 ? ::geteuid() : (nobody != nullptr ? nobody->pw_uid : 65534);
}

// Hands path to the unprivileged account.
inline void GiveToUnprivileged(const std::filesystem::path& path) {
    [[maybe_unused]] int ignored = ::chown(path.c_str(), UnprivilegedUid(), UnprivilegedUid());
}

// Runs check in a child process as the unprivileged account; its expectations count there,
// and any that fails fails the test here.
inline void AsUnprivileged(const std::function<void()>& check) {
    pid_t child = ::fork();
    if (child == 0) {
        uid_t uid = UnprivilegedUid();
        if (::geteuid() == 0 &&
            (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)) {
            ::_exit(99);
        }
        check();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// This thread's file access as the unprivileged account while it lives, where a fork will not
// do: a Qt program's child inherits its thread pools without their threads.
struct FileAccessAsUnprivileged {
    FileAccessAsUnprivileged() { ::setfsgid(UnprivilegedUid()), ::setfsuid(UnprivilegedUid()); }
    ~FileAccessAsUnprivileged() { ::setfsuid(::geteuid()), ::setfsgid(::getegid()); }
};
