#include "doctor/account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "doctor/processes.h"

namespace {

// The account's HOME, groups and ids; kept are the ids the process may take back.
bool TakeOn(const Account& account, uid_t keptUid, gid_t keptGid) {
    ::setenv("HOME", account.home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_STATE_HOME");
    // The real ids change too: the settings rule asks access(), which looks at them.
    return ::setgroups(account.accountGroups.size(), account.accountGroups.data()) == 0 &&
           ::setresgid(account.gid, account.gid, keptGid) == 0 &&
           ::setresuid(account.uid, account.uid, keptUid) == 0;
}

}  // namespace

std::string OwnerOf(const Account& account) {
    return std::to_string(account.uid);
}

UserFacts Account::Facts() const {
    return {name, uid, sessionGroups, accountGroups, !viaSudo};
}

Account ReportedAccount() {
    Account account;
    const char* sudoUser = std::getenv("SUDO_USER");
    passwd* entry = nullptr;
    if (::geteuid() == 0 && sudoUser != nullptr && *sudoUser != '\0' &&
        std::string(sudoUser) != "root") {
        entry = ::getpwnam(sudoUser);
        account.viaSudo = entry != nullptr;
    }
    if (entry == nullptr) {
        entry = ::getpwuid(::geteuid());
    }
    account.uid = entry != nullptr ? entry->pw_uid : ::geteuid();
    account.gid = entry != nullptr ? entry->pw_gid : ::getegid();
    account.name = entry != nullptr ? entry->pw_name : std::to_string(account.uid);
    account.home = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
    account.accountGroups = entry != nullptr ? AccountGroups(entry->pw_name, entry->pw_gid)
                                             : std::vector<gid_t>{account.gid};
    account.sessionGroups = account.viaSudo ? account.accountGroups : ProcessGroups();
    account.isRoot = !account.viaSudo && account.uid == 0;
    return account;
}

std::string GroupNames(const std::vector<gid_t>& groups) {
    std::vector<gid_t> sorted = groups;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::string names;
    for (gid_t gid : sorted) {
        group* entry = ::getgrgid(gid);
        names += (names.empty() ? "" : ", ") +
                 (entry != nullptr ? std::string(entry->gr_name) : std::to_string(gid));
    }
    return names;
}

// Whom the findings are for, and what that means for the permission checks.
void DescribeAccount(const Account& account, Report& report) {
    std::string groups = "in groups " + GroupNames(account.sessionGroups);
    if (account.viaSudo) {
        report.Add("user", account.name, Level::Ok,
                   "reporting for " + account.name + ", who ran sudo: their settings file, " +
                       groups + ", and what they may open");
    } else if (account.isRoot) {
        report.Add("user", account.name, Level::Note,
                   "running as root: root passes every permission check, so a port it calls "
                   "available may still be closed to a user; run it as that user, or with sudo "
                   "from their account");
    } else {
        report.Add("user", account.name, Level::Ok, groups);
    }
}

ActingAs::ActingAs(const Account& account) {
    if (!account.viaSudo) {
        return;
    }
    rootGroups_ = ProcessGroups();
    rootGid_ = ::getegid();
    switched_ = TakeOn(account, 0, rootGid_);
}

ActingAs::~ActingAs() {
    if (!rootGroups_.empty()) {
        [[maybe_unused]] int ignored = ::setresuid(0, 0, 0);
        ignored = ::setresgid(rootGid_, rootGid_, rootGid_);
        ignored = ::setgroups(rootGroups_.size(), rootGroups_.data());
    }
}

bool BecomeForGood(const Account& account) {
    return !account.viaSudo || TakeOn(account, account.uid, account.gid);
}
