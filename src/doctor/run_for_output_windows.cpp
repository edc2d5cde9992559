#include <windows.h>

#include "doctor/run_for_output.h"

namespace {

constexpr ULONGLONG kDeadlineMs = 5000;

// Reads what the process writes until it ends and all is read, or the deadline passes.
// Returns whether it ended.
bool ReadUntilEnd(HANDLE process, HANDLE readEnd, std::string& output) {
    ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
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
            ended = WaitForSingleObject(process, 50) == WAIT_OBJECT_0;
        }
    }
    return ended;
}

}  // namespace

CommandOutput RunForOutput(const std::string& command) {
    CommandOutput result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::wstring line(command.begin(), command.end());  // the doctor's commands are ASCII
    bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return result;
    }
    DWORD code = 128;
    if (ReadUntilEnd(process.hProcess, readEnd, result.text)) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    result.exitStatus = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    return result;
}
