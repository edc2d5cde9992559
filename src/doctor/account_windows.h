#pragma once

#include <windows.h>

#include <string>

// The user the doctor reports for on Windows: whoever runs it. No sudo, and no groups to join
// for a port.
struct Account {
    std::string name;
    std::string owner;  // the user's security id, as Process::owner has it
};

Account ReportedAccount();

// Whose the process is: the user's name and security id; "?" and "" when Windows does not say.
struct ProcessUser {
    std::string name = "?";
    std::string sid;
};
ProcessUser UserOfProcess(HANDLE process);
