#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include "doctor/listen_line.h"

namespace {

// saved and savedTimeouts: the line's settings when it was opened, put back at the end, since
// they belong to the port and outlive this program's handle.
class WindowsLine : public ListenLine {
  public:
    WindowsLine(HANDLE handle, const DCB& saved, const COMMTIMEOUTS& savedTimeouts)
        : handle_(handle), saved_(saved), savedTimeouts_(savedTimeouts) {
        timeBeginPeriod(1);  // Sleep(1) sleeps a millisecond, not the scheduler's 15.6
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // a read returns at once with what is there
        SetCommTimeouts(handle_, &timeouts);
    }
    ~WindowsLine() override {
        SetCommState(handle_, &saved_);
        SetCommTimeouts(handle_, &savedTimeouts_);
        CloseHandle(handle_);
        timeEndPeriod(1);
    }
    WindowsLine(const WindowsLine&) = delete;
    WindowsLine& operator=(const WindowsLine&) = delete;

    // Windows' read timeouts could wait for the first byte, but Wine's wake about 100 ms
    // late; a poll each millisecond takes the arrival to the millisecond on both, and a few
    // minutes of listening do not notice its cost.
    std::string Read(int timeoutMs) override {
        ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
        do {
            char buffer[256];
            DWORD got = 0;
            if (ReadFile(handle_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                return std::string(buffer, got);
            }
            Sleep(1);
        } while (GetTickCount64() < until);
        return {};
    }

  private:
    HANDLE handle_;
    DCB saved_;
    COMMTIMEOUTS savedTimeouts_;
};

}  // namespace

std::unique_ptr<ListenLine> ListenLine::Open(const std::string& device, std::string& error) {
    std::wstring name(device.begin(), device.end());  // \\.\COMn: ASCII
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB saved{};
    saved.DCBlength = sizeof saved;
    COMMTIMEOUTS savedTimeouts{};
    if (handle == INVALID_HANDLE_VALUE || !GetCommState(handle, &saved) ||
        !GetCommTimeouts(handle, &savedTimeouts)) {
        DWORD code = GetLastError();
        error = code == ERROR_FILE_NOT_FOUND  ? "no such port"
                : code == ERROR_ACCESS_DENIED ? "access denied (another program has it open?)"
                                              : "error " + std::to_string(code);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        return nullptr;
    }
    DCB line = saved;
    line.BaudRate = CBR_9600;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fInX = FALSE;
    line.fOutX = FALSE;
    SetCommState(handle, &line);
    PurgeComm(handle, PURGE_RXCLEAR);  // bytes from before are no packets heard now
    return std::make_unique<WindowsLine>(handle, saved, savedTimeouts);
}
