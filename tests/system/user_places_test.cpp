#include "system/user_places.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/as_user.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(UserPlaces, EachFollowsItsVariableElseItsFolderInHomeAndNoneWithoutEither) {
    ScopedEnv config("XDG_CONFIG_HOME", "/x/config");
    ScopedEnv state("XDG_STATE_HOME", "/x/state");
    ScopedEnv cache("XDG_CACHE_HOME", "/x/cache");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(UserConfigHome(), "/x/config");
    EXPECT_EQ(UserStateHome(), "/x/state");
    EXPECT_EQ(UserCacheHome(), "/x/cache");
    EXPECT_EQ(UserRuntimeDir(), "/run/user/1000");
    // Relative ones are to be ignored, as if they were not set.
    ScopedEnv relativeConfig("XDG_CONFIG_HOME", "config");
    ScopedEnv relativeState("XDG_STATE_HOME", "state");
    ScopedEnv relativeCache("XDG_CACHE_HOME", "");
    ScopedEnv relativeRuntime("XDG_RUNTIME_DIR", "run");
    EXPECT_EQ(UserConfigHome(), "/home/ann/.config");
    EXPECT_EQ(UserStateHome(), "/home/ann/.local/state");
    EXPECT_EQ(UserCacheHome(), "/home/ann/.cache");
    EXPECT_EQ(UserRuntimeDir(), "");
    ScopedEnv relativeHome("HOME", "home/ann");
    EXPECT_EQ(UserConfigHome(), "");
    EXPECT_EQ(UserStateHome(), "");
    EXPECT_EQ(UserCacheHome(), "");
}

TEST(UserPlaces, OnlyRootIsInAnotherUsersPlaceAndTheNearestFolderThatExistsSaysWhose) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    fs::path home = dir / "home";
    fs::create_directory(home);
    // None of the folders below the home exists yet.
    fs::path file = home / ".config" / kProgramFolder / "Skyfix.ini";
    EXPECT_FALSE(InAnotherUsersPlace(file));
    GiveToUnprivileged(home);
    EXPECT_EQ(InAnotherUsersPlace(file), ::geteuid() == 0);
    EXPECT_FALSE(InAnotherUsersPlace(home));  // its folder is the test's own
    AsUnprivileged([&] { EXPECT_FALSE(InAnotherUsersPlace(file)); });  // the user's own place
}
