#include "desktop/single_instance.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
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

fs::path InstanceLockPath(const fs::path& settingsFile) {
    std::error_code error;
    fs::path absolute = fs::weakly_canonical(settingsFile, error);
    if (error) {
        absolute = fs::absolute(settingsFile, error);
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(NameHash(absolute.string())));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return fs::path(runtime) / ("beamclock-" + std::string(hash) + ".lock");
    }
#ifndef _WIN32
    std::string user = std::to_string(::getuid());
#else
    std::string user = "user";
#endif
    return fs::temp_directory_path(error) / ("beamclock-" + user + "-" + hash + ".lock");
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

}  // namespace

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstance::Claim(const fs::path& settingsFile) {
    fs::path lock = InstanceLockPath(settingsFile);
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return true;  // no lock to be had: run, as the program always did
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK;
        if (held) {
            if (pid_t holder = HolderOf(fd); holder > 0) {
                ::kill(holder, SIGUSR1);
            }
        }
        ::close(fd);
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

}  // namespace

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
        if (id != nullptr && *id != 0) {
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
