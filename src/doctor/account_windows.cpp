#include <windows.h>

#include "doctor/account.h"
#include "doctor/windows_text.h"

// Windows has no sudo and no groups to join for a port: the account is whoever runs the
// doctor, and its processes are those of the same session.
Account ReportedAccount() {
    Account account;
    wchar_t name[256] = {};
    DWORD size = 256;
    account.name = GetUserNameW(name, &size) ? Utf8(name) : "?";
    DWORD session = 0;
    account.uid = ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
    return account;
}
