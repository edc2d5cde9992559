#include "desktop/single_instance.h"

#include "settings/settings_location.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <cwctype>
#include <vector>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace {

// FNV-1a: the same name for the same path in every build, unlike std::hash.
std::uint64_t NameHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

}  // namespace

#ifndef _WIN32

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

}  // namespace

// The lock goes to ~/.cache/beamclock: the user's own, made 0700, the XDG place for what may
// vanish at any time (a lock of a copy that has ended), and the same folder whatever the
// session says. The runtime directory is not: cron, ssh and su - start without one, and a
// desktop session's copy and theirs would lock different files and both run. A user with no
// home to write (nobody, a service account, root with another user's HOME) takes its runtime
// directory when that is its own private folder, else a folder of its own in the temporary
// directory, checked the same way: the shared folder itself would let anyone make the file
// first.
fs::path LockFolder() {
    fs::path cache;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        cache = xdg;
    } else if (home != nullptr && fs::path(home).is_absolute()) {
        cache = fs::path(home) / ".cache";
    }
    std::error_code error;
    if (!cache.empty() && !InAnotherUsersPlace(cache / "beamclock")) {
        fs::create_directories(cache, error);
        if (MakeOwnPrivateFolder(cache / "beamclock")) {
            return cache / "beamclock";
        }
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && fs::path(runtime).is_absolute() && IsOwnPrivateFolder(runtime)) {
        return fs::path(runtime);
    }
    fs::path temporary =
        fs::temp_directory_path(error) / ("beamclock-" + std::to_string(::geteuid()));
    if (!error && MakeOwnPrivateFolder(temporary)) {
        return temporary;
    }
    return {};  // not ours alone: no lock rather than one others can take
}

#else

// The name alone counts on Windows: the mutex and the shared memory live in the session.
fs::path LockFolder() {
    std::error_code error;
    return fs::temp_directory_path(error);
}

#endif

fs::path InstanceLockPath(const fs::path& settingsFile) {
    std::error_code error;
    fs::path absolute = fs::weakly_canonical(settingsFile, error);
    if (error) {
        absolute = fs::absolute(settingsFile, error);
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(NameHash(absolute.string())));
    fs::path folder = LockFolder();
    return folder.empty() ? folder : folder / ("beamclock-" + std::string(hash) + ".lock");
}

#ifndef _WIN32

namespace {

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

bool IsOwnProgram(pid_t pid) {
    std::string comm = FirstLine("/proc/" + std::to_string(pid) + "/comm");
    std::string uid = UidLine(pid);
    std::string expected = "Uid:\t" + std::to_string(::getuid()) + "\t";
    return !comm.empty() && comm == FirstLine("/proc/self/comm") && uid.rfind(expected, 0) == 0;
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

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
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // Still the only copy; a second start just cannot ask this one to show itself.
    }
    fd_ = fd;
    return true;
}

#else

namespace {

// Asks every top-level window of the holding process to show the program's window.
void AskToShow(DWORD holder) {
    ::AllowSetForegroundWindow(holder);
    struct Target {
        DWORD process;
        UINT message;
    } target{holder, ::RegisterWindowMessageW(kShowMessageName)};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* wanted = reinterpret_cast<Target*>(data);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == wanted->process) {
                ::PostMessageW(window, wanted->message, 0, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&target));
}

// The user a process runs as, as its token says; empty when it cannot be asked.
std::vector<unsigned char> UserOf(HANDLE process) {
    std::vector<unsigned char> sid;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return sid;
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        sid.assign(static_cast<unsigned char*>(user),
                   static_cast<unsigned char*>(user) + ::GetLengthSid(user));
    }
    ::CloseHandle(token);
    return sid;
}

std::wstring ImageName(HANDLE process) {
    wchar_t path[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process, 0, path, &size)) {
        return {};
    }
    std::wstring name = fs::path(std::wstring(path, size)).filename().wstring();
    for (wchar_t& c : name) {
        c = static_cast<wchar_t>(::towlower(c));
    }
    return name;
}

}  // namespace

bool IsOwnProgram(DWORD processId) {
    DWORD session = 0;
    DWORD ownSession = 0;
    if (!::ProcessIdToSessionId(processId, &session) ||
        !::ProcessIdToSessionId(::GetCurrentProcessId(), &ownSession) || session != ownSession) {
        return false;
    }
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    std::wstring name = ImageName(process);
    std::vector<unsigned char> user = UserOf(process);
    ::CloseHandle(process);
    return !name.empty() && name == ImageName(::GetCurrentProcess()) && !user.empty() &&
           user == UserOf(::GetCurrentProcess());
}

SingleInstance::~SingleInstance() {
    if (holderId_ != nullptr) {
        ::CloseHandle(holderId_);
    }
    if (mutex_ != nullptr) {
        ::CloseHandle(mutex_);
    }
}

bool SingleInstance::Claim(const fs::path& settingsFile) {
    std::wstring name = L"Local\\" + InstanceLockPath(settingsFile).stem().wstring();
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        return true;  // no lock to be had: run, as the program always did
    }
    bool held = ::GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE shared = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         sizeof(DWORD), (name + L"-process").c_str());
    DWORD* id =
        shared != nullptr
            ? static_cast<DWORD*>(::MapViewOfFile(shared, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(DWORD)))
            : nullptr;
    if (held) {
        // Anyone in the session could have made the memory: ask only a Beamclock of ours.
        if (id != nullptr && *id != 0 && IsOwnProgram(*id)) {
            AskToShow(*id);
        }
    } else if (id != nullptr) {
        *id = ::GetCurrentProcessId();
    }
    if (id != nullptr) {
        ::UnmapViewOfFile(id);
    }
    if (held) {
        if (shared != nullptr) {
            ::CloseHandle(shared);
        }
        ::CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    holderId_ = shared;
    return true;
}

#endif
