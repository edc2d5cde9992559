#include "desktop/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "system/user_places.h"

namespace fs = std::filesystem;

struct SingleInstance::Held {
    explicit Held(int lockFd) : fd(lockFd) {}
    ~Held() { ::close(fd); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    int fd;
};

namespace {

// The mode of a folder of this user's own, none when it is a link, anyone else's or not there.
std::optional<mode_t> OwnFolderMode(fs::path folder) {
    folder = folder.lexically_normal();
    if (!folder.has_filename() && folder.has_relative_path()) {
        folder = folder.parent_path();  // "link/" would have lstat follow the link
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        return std::nullopt;
    }
    return status.st_mode;
}

// A folder of this user's alone, that nobody else may write to: so nobody else can make the
// lock first.
bool IsOwnPrivateFolder(const fs::path& folder) {
    std::optional<mode_t> mode = OwnFolderMode(folder);
    return mode && (*mode & 022) == 0;
}

bool MakeOwnPrivateFolder(const fs::path& folder) {
    ::mkdir(folder.c_str(), 0700);
    // Made earlier by a tool under a umask of 002: the user's own folder is made private again,
    // else each session would fall back to a place of its own and lock another file.
    std::optional<mode_t> mode = OwnFolderMode(folder);
    if (mode && (*mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return false;
    }
    return mode.has_value();
}

// The holder writes its id right after taking the lock; give it a moment to do so.
pid_t HolderOf(int fd) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        char text[32] = {};
        ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        long pid = length > 0 ? std::strtol(text, nullptr, 10) : 0;
        if (pid > 0) {
            return static_cast<pid_t>(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

// The holder's id, for a second start to ask this copy to show itself. A copy that cannot
// write it is still the only copy; it just cannot be asked.
void WriteHolderId(int fd) {
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string UidLine(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            return line;
        }
    }
    return {};
}

}  // namespace

// The cache folder comes first: the user's own, made 0700, the XDG place for what may vanish
// at any time (a lock of a copy that has ended), and the same folder whatever the session says.
// The runtime folder is not: cron, ssh and su - start without one, and a desktop session's copy
// and theirs would lock different files and both run. A user with no home to write (nobody, a
// service account, root with another user's HOME) takes its runtime folder when that is its
// own private folder, else a folder of its own in the temporary folder, checked the same way:
// the shared folder itself would let anyone make the file first.
fs::path InstanceLockFolder() {
    std::error_code error;
    if (fs::path cache = UserCacheHome();
        !cache.empty() && !InAnotherUsersPlace(cache / kProgramFolder)) {
        fs::create_directories(cache, error);
        if (MakeOwnPrivateFolder(cache / kProgramFolder)) {
            return cache / kProgramFolder;
        }
    }
    if (fs::path runtime = UserRuntimeDir(); !runtime.empty() && IsOwnPrivateFolder(runtime)) {
        return runtime;
    }
    fs::path temporary = fs::temp_directory_path(error) /
                         (std::string(kProgramFolder) + "-" + std::to_string(::geteuid()));
    if (!error && MakeOwnPrivateFolder(temporary)) {
        return temporary;
    }
    return {};  // not ours alone: no lock rather than one others can take
}

bool IsOwnProgram(std::int64_t processId) {
    std::string pid = std::to_string(processId);
    std::string comm = FirstLine("/proc/" + pid + "/comm");
    std::string uid = UidLine(static_cast<pid_t>(processId));
    std::string expected = "Uid:\t" + std::to_string(::getuid()) + "\t";
    return !comm.empty() && comm == FirstLine("/proc/self/comm") && uid.rfind(expected, 0) == 0;
}

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

bool SingleInstance::Claim(const fs::path& settingsFile) {
    fs::path lock = InstanceLockPath(settingsFile);
    int fd =
        lock.empty() ? -1 : ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return true;  // no lock to be had: run, as the program always did
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        return true;  // someone else's file: no lock of ours, so run
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK;
        pid_t holder = held ? HolderOf(fd) : 0;
        ::close(fd);
        // The file is this user's own, in a folder of its own: whoever holds it is a copy of
        // this user's for the same settings, whatever its program file is called. Only one
        // shown to be a Beamclock of this user is asked to show itself: SIGUSR1 ends a process
        // that does not expect it, and the pid may be a stale one.
        if (holder > 0 && IsOwnProgram(holder)) {
            ::kill(holder, SIGUSR1);
        }
        return !held;
    }
    WriteHolderId(fd);
    held_ = std::make_unique<Held>(fd);
    return true;
}
