#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

// One running copy of the program per settings file and user. The first copy holds an flock on
// a file of the user's own, in a folder of the user's own, named after the settings file (on
// Windows a named mutex in the session); the system lets go of it when the copy ends, however it
// ends, so a crashed or killed copy never blocks a start.
class SingleInstance {
  public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is now the copy for settingsFile, or when no lock can be had at
    // all (the program then runs, as it always did). False when another copy holds it; that
    // copy has been asked to show its window (SIGUSR1), and this one should end.
    bool Claim(const std::filesystem::path& settingsFile);

  private:
    // What keeps the claim until the process ends: the locked file on POSIX; on Windows the
    // mutex and the shared memory with the holder's process id.
    struct Held;
    std::unique_ptr<Held> held_;
};

// The window message a second start posts to the running copy's windows on Windows.
inline constexpr const wchar_t* kShowMessageName = L"com.korvel.beamclock.show";

// Where the lock for a settings file lives: in the folder below; empty when there is none.
std::filesystem::path InstanceLockPath(const std::filesystem::path& settingsFile);

// The folder for the locks, the first of these that is the user's alone: beamclock in the
// cache folder (made 0700), then the session's runtime folder when it is the user's own private
// one, then beamclock-<uid> in the temporary folder (made 0700); empty when none is. On Windows
// the temporary folder, as only the lock's name counts there.
std::filesystem::path InstanceLockFolder();

// Whether a process is a Beamclock of this user (and on Windows of this session): the only kind
// a second start asks to show itself.
bool IsOwnProgram(std::int64_t processId);
