// Ends the session for one window as Windows does at log-off, then freezes its program the
// moment the answers are in: Windows may end the process right after WM_ENDSESSION, so whatever
// the program must do has to be done by then. The test then looks at what is left (the tray).
// A forced log-off sends WM_ENDSESSION without asking WM_QUERYENDSESSION first.
//
//   end_session.exe TITLE [--forced]   exit 0: answered and frozen; 1: failed; 2: usage

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    bool forced = argc == 3 && std::wcscmp(argv[2], L"--forced") == 0;
    if (argc != 2 && !forced) {
        std::fputs("usage: end_session.exe TITLE [--forced]\n", stderr);
        return 2;
    }
    HWND window = FindWindowW(nullptr, argv[1]);
    if (window == nullptr) {
        std::fputs("no such window\n", stderr);
        return 1;
    }
    // Taken first: the window may be gone once the program has answered.
    DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    DWORD_PTR mayEnd = 1;
    if (!forced) {
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000,
                            &mayEnd);
    }
    DWORD_PTR ignored = 0;
    LPARAM why = ENDSESSION_LOGOFF | (forced ? ENDSESSION_CRITICAL : 0);
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, why, SMTO_BLOCK, 5000, &ignored);
    if (thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1)) {
        std::fprintf(stderr, "could not freeze the program (thread %lu, error %lu)\n", threadId,
                     GetLastError());
        return 1;
    }
    std::printf("query answered %d; frozen\n", static_cast<int>(mayEnd));
    return 0;
}
