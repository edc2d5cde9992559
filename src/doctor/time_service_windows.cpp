#include <windows.h>

#include "doctor/time_service.h"
#include "doctor/windows_text.h"

namespace {

std::string StateName(DWORD state) {
    switch (state) {
        case SERVICE_RUNNING:
            return "running";
        case SERVICE_STOPPED:
            return "stopped";
        case SERVICE_START_PENDING:
            return "starting";
        case SERVICE_STOP_PENDING:
            return "stopping";
        default:
            return "paused";
    }
}

std::string StartTypeName(DWORD type) {
    switch (type) {
        case SERVICE_AUTO_START:
            return "automatic";
        case SERVICE_DEMAND_START:
            return "manual";
        case SERVICE_DISABLED:
            return "disabled";
        default:
            return "at boot";
    }
}

std::string RegistryText(const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof value[0];
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", name,
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return Utf8(value);
}

void ReadService(TimeService& facts) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return;
    }
    SC_HANDLE service =
        OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (service != nullptr) {
        facts.installed = true;
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status)) {
            facts.state = StateName(status.dwCurrentState);
        }
        alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
        if (QueryServiceConfigW(service, config, sizeof buffer, &needed)) {
            facts.startType = StartTypeName(config->dwStartType);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// What "w32tm /query /status" prints, given five seconds; none when it cannot be run.
std::optional<std::string> W32tmStatus() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return std::nullopt;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    wchar_t command[] = L"w32tm.exe /query /status";
    bool started = CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return std::nullopt;
    }
    std::string output;
    ULONGLONG deadline = GetTickCount64() + 5000;
    bool ended = false;
    while (GetTickCount64() < deadline) {
        DWORD available = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[1024];
            DWORD got = 0;
            if (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr)) {
                output.append(buffer, got);
            }
        } else if (ended) {
            break;  // everything it wrote is read
        } else {
            ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
        }
    }
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    return ended && code == 0 ? std::optional<std::string>(output) : std::nullopt;
}

}  // namespace

TimeService TimeServiceFacts() {
    TimeService facts;
    ReadService(facts);
    if (!facts.installed) {
        return facts;
    }
    facts.type = RegistryText(L"Type");
    facts.server = RegistryText(L"NtpServer");
    if (facts.state == "running") {
        facts.status = W32tmStatus();
    }
    return facts;
}
