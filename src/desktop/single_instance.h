#pragma once

#include <filesystem>

// One running copy of the program per settings file and user. The first copy holds an flock on
// a file in the user's runtime directory named after the settings file; the kernel lets go of
// it when the copy ends, however it ends, so a crashed or killed copy never blocks a start.
class SingleInstance {
  public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is now the copy for settingsFile, or when no lock can be had at
    // all (the program then runs, as it always did). False when another copy holds it; that
    // copy has been asked to show its window (SIGUSR1), and this one should end.
    bool Claim(const std::filesystem::path& settingsFile);

  private:
    int fd_ = -1;
};

// Where the lock for a settings file lives: $XDG_RUNTIME_DIR, or the temporary directory with
// the user's id in the name.
std::filesystem::path InstanceLockPath(const std::filesystem::path& settingsFile);
