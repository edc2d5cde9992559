#include "desktop/single_instance.h"

#include <windows.h>

#include <cwctype>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

struct SingleInstance::Held {
    Held(HANDLE heldMutex, HANDLE heldId) : mutex(heldMutex), holderId(heldId) {}
    ~Held() {
        if (holderId != nullptr) {
            ::CloseHandle(holderId);
        }
        ::CloseHandle(mutex);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    HANDLE mutex;     // named after the settings file; gone with the process
    HANDLE holderId;  // shared memory with the holder's process id
};

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

// The name alone counts on Windows: the mutex and the shared memory live in the session.
fs::path InstanceLockFolder() {
    std::error_code error;
    return fs::temp_directory_path(error);
}

bool IsOwnProgram(std::int64_t processId) {
    DWORD id = static_cast<DWORD>(processId);
    DWORD session = 0;
    DWORD ownSession = 0;
    if (!::ProcessIdToSessionId(id, &session) ||
        !::ProcessIdToSessionId(::GetCurrentProcessId(), &ownSession) || session != ownSession) {
        return false;
    }
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return false;
    }
    std::wstring name = ImageName(process);
    std::vector<unsigned char> user = UserOf(process);
    ::CloseHandle(process);
    return !name.empty() && name == ImageName(::GetCurrentProcess()) && !user.empty() &&
           user == UserOf(::GetCurrentProcess());
}

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

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
    held_ = std::make_unique<Held>(mutex, shared);
    return true;
}
