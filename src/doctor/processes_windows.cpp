#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "doctor/account_windows.h"
#include "doctor/processes.h"
#include "doctor/windows_text.h"

namespace {

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
        process.name = CommandName(entry.szExeFile);
        process.user = "?";
        if (process.name == kDesktopProgram) {
            HANDLE handle =
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (handle != nullptr) {
                ProcessUser user = UserOfProcess(handle);
                process.user = user.name;
                process.owner = user.sid;
                process.folder = FolderOf(handle);
                CloseHandle(handle);
            }
        }
        processes_.push_back(process);
    }
    CloseHandle(snapshot);
}

bool ProcessTable::ShowsHolders() {
    return false;
}

std::vector<const Process*> ProcessTable::Holding(const std::string&) const {
    return {};
}

const Process* ProcessTable::FlockHolder(const std::string&) const {
    return nullptr;
}
