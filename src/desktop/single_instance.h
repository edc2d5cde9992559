#pragma once

#include <filesystem>

// One running copy of the program per settings file and user. The first copy holds an flock on
// a file of the user's own, in a folder of the user's own, named after the settings file (on
// Windows a named mutex in the session); the system lets go of it when the copy ends, however it
// ends, so a crashed or killed copy never blocks a start.
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
#ifdef _WIN32
    void* mutex_ = nullptr;     // named after the settings file; gone with the process
    void* holderId_ = nullptr;  // shared memory with the holder's process id
#else
    int fd_ = -1;
#endif
};

// The window message a second start posts to the running copy's windows on Windows.
inline constexpr const wchar_t* kShowMessageName = L"com.korvel.beamclock.show";

// Where the lock for a settings file lives: $XDG_RUNTIME_DIR, else ~/.cache/beamclock (made
// 0700); empty when neither is the user's alone.
std::filesystem::path InstanceLockPath(const std::filesystem::path& settingsFile);

// Whether a process is a Beamclock of this user (and on Windows of this session): the only kind
// a second start asks to show itself.
#ifdef _WIN32
bool IsOwnProgram(unsigned long processId);
#else
bool IsOwnProgram(int pid);
#endif
