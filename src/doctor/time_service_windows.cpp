#include <windows.h>

#include "doctor/run_for_output.h"
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

// What "w32tm /query /status" prints; none when it cannot be run or fails.
std::optional<std::string> W32tmStatus() {
    CommandOutput status = RunForOutput("w32tm.exe /query /status");
    return status.exitStatus == 0 ? std::optional<std::string>(status.text) : std::nullopt;
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
