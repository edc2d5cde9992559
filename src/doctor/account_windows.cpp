#include "doctor/account_windows.h"

// After windows.h, which it needs.
#include <sddl.h>

#include "doctor/processes.h"
#include "doctor/windows_text.h"

Account ReportedAccount() {
    Account account;
    wchar_t name[256] = {};
    DWORD size = 256;
    account.name = GetUserNameW(name, &size) ? Utf8(name) : "?";
    account.owner = UserOfProcess(GetCurrentProcess()).sid;
    return account;
}

std::string OwnerOf(const Account& account) {
    return account.owner;
}

ProcessUser UserOfProcess(HANDLE process) {
    ProcessUser user;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return user;
    }
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(sid, &text)) {
            user.sid = Utf8(text);
            LocalFree(text);
        }
        wchar_t name[256];
        wchar_t domain[256];
        DWORD nameSize = 256;
        DWORD domainSize = 256;
        SID_NAME_USE use{};
        if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
            user.name = Utf8(name);
        }
    }
    CloseHandle(token);
    return user;
}
