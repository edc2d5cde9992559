#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "doctor/report.h"
#include "serial/device_access.h"

// The user the doctor reports for: whoever runs it, or, under sudo, the user who ran sudo,
// since that is whose Beamclock they are asking about.
struct Account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
    std::vector<gid_t> sessionGroups;  // this login's groups; under sudo, the account's
    std::vector<gid_t> accountGroups;  // what a new login of the account gets
    bool viaSudo = false;              // root, reporting for SUDO_USER
    bool isRoot = false;               // root, reporting for root

    UserFacts Facts() const;
};

// From the process's ids and SUDO_USER (only heeded when the process runs as root).
Account ReportedAccount();

// Whom the findings are for, and what that means for the permission checks.
void DescribeAccount(const Account& account, Report& report);

std::string GroupNames(const std::vector<gid_t>& groups);  // "ann, dialout, plugdev"

// While it lives, the process acts with the account's ids and groups, so that what the
// program would decide (may it write beside itself, may it open a port) is decided as the
// account; HOME is the account's, and XDG_CONFIG_HOME and XDG_STATE_HOME (root's, or gone
// under sudo) are dropped. Does nothing unless viaSudo. Root stays the saved id, so the
// destructor can take it back.
class ActingAs {
  public:
    explicit ActingAs(const Account& account);
    ~ActingAs();
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;
    bool Switched() const { return switched_; }

  private:
    bool switched_ = false;
    gid_t rootGid_ = 0;
    std::vector<gid_t> rootGroups_;
};

// As ActingAs, but for the rest of the run, with no way back to root: for --listen, which
// opens the device its command line names and reads what that sends. True when done, or
// when there is nothing to take on (not under sudo); false leaves the ids in doubt.
bool BecomeForGood(const Account& account);
