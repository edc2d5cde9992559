#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "doctor/processes.h"
#include "doctor/windows_text.h"
#include "serial/device_probe.h"

namespace {

DWORD SessionOf(DWORD pid) {
    DWORD session = 0;
    return ProcessIdToSessionId(pid, &session) ? session : ~DWORD{0};
}

// "ann", or "?" when Windows does not show this user whose the process is.
std::string UserOf(HANDLE process) {
    std::string user = "?";
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) BYTE buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
            wchar_t name[256];
            wchar_t domain[256];
            DWORD nameSize = 256;
            DWORD domainSize = 256;
            SID_NAME_USE use{};
            if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name,
                                  &nameSize, domain, &domainSize, &use)) {
                user = Utf8(name);
            }
        }
        CloseHandle(token);
    }
    return user;
}

// "C:\\Users\\ann\\AppData\\Local\\Programs\\Beamclock", or "" when Windows does not say.
std::string FolderOf(HANDLE process) {
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, image, &size)) {
        return {};
    }
    return Utf8(std::filesystem::path(image).parent_path().c_str());
}

// "beamclock" for "Beamclock.EXE", so that a name compares as on Linux.
std::string CommandName(const wchar_t* exe) {
    std::string name = Utf8(exe);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

}  // namespace

ProcessTable::ProcessTable() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        Process process;
        process.pid = static_cast<pid_t>(entry.th32ProcessID);
        process.uid = SessionOf(entry.th32ProcessID);
        process.name = CommandName(entry.szExeFile);
        process.user = "?";
        if (process.name == kDesktopProgram) {
            HANDLE handle =
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (handle != nullptr) {
                process.user = UserOf(handle);
                process.folder = FolderOf(handle);
                CloseHandle(handle);
            }
        }
        processes_.push_back(process);
    }
    CloseHandle(snapshot);
}

std::vector<const Process*> ProcessTable::Holding(const std::string& device) const {
    DeviceState state = ProbeDevice(device).state;
    if (state != DeviceState::HeldByAnother && state != DeviceState::PermissionDenied) {
        return {};
    }
    return Named("beamclock");
}

const Process* ProcessTable::FlockHolder(const std::string&) const {
    return nullptr;
}
