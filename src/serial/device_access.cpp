#include "serial/device_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

bool Has(const std::vector<gid_t>& groups, gid_t group) {
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool OwnerMay(mode_t mode) {
    return (mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
}
bool GroupMay(mode_t mode) {
    return (mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
}
bool OthersMay(mode_t mode) {
    return (mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

std::string Permissions(const DeviceFacts& device) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(device.mode & 07777));
    return std::string("mode ") + mode + ", owner " + device.ownerName + ", group " +
           device.groupName;
}

}  // namespace

bool IsPrivilegedGroup(gid_t group, const std::string& name) {
    static const char* const kPrivileged[] = {"root",  "sudo", "wheel",  "adm",
                                              "admin", "disk", "shadow", "kmem"};
    return group == 0 || std::any_of(std::begin(kPrivileged), std::end(kPrivileged),
                                     [&](const char* privileged) { return name == privileged; });
}

bool MayReadWrite(const DeviceFacts& device, uid_t uid, const std::vector<gid_t>& groups) {
    // The kernel looks at one class only: the owner's bits for the owner, the group's for a
    // member, the others' for everyone else.
    if (uid == device.owner) {
        return OwnerMay(device.mode);
    }
    if (Has(groups, device.group)) {
        return GroupMay(device.mode);
    }
    return OthersMay(device.mode);
}

std::string WhoMayOpen(const DeviceFacts& device) {
    if (OthersMay(device.mode)) {
        return "everyone";
    }
    std::vector<std::string> who;
    if (OwnerMay(device.mode)) {
        who.push_back(device.ownerName + " (the owner)");
    }
    if (GroupMay(device.mode)) {
        who.push_back("the members of group " + device.groupName);
    }
    if (who.empty()) {
        return "nobody";
    }
    return who.size() == 1 ? "only " + who[0] : who[0] + " and " + who[1];
}

std::string PermissionAdvice(const DeviceFacts& device, const UserFacts& user) {
    std::string who = user.isYou ? "you" : user.name;
    std::string is = user.isYou ? " are" : " is";
    std::string text = "permission denied (" + Permissions(device) + ")";
    bool joinable = GroupMay(device.mode) && !IsPrivilegedGroup(device.group, device.groupName) &&
                    user.uid != device.owner;
    if (!joinable) {
        return text + ": " + WhoMayOpen(device) +
               " may open it; an administrator must change the device's permissions (a udev "
               "rule), for instance to group dialout with mode 0660";
    }
    if (Has(user.sessionGroups, device.group)) {
        return text + ": the device belongs to group \"" + device.groupName + "\", which " + who +
               is + " in, yet it was refused: an ACL or a security module shuts the group out";
    }
    if (Has(user.accountGroups, device.group)) {
        return text + ": the device belongs to group \"" + device.groupName + "\"; " + who +
               (user.isYou ? " were" : " was") +
               " added to it but this session started before: log out and in";
    }
    return text + ": the device belongs to group \"" + device.groupName + "\", which " + who + is +
           " not in; fix: sudo usermod -aG " + device.groupName + " " + user.name +
           ", then log out and in";
}

std::optional<DeviceFacts> DeviceFactsOf(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return std::nullopt;
    }
    passwd* owner = ::getpwuid(info.st_uid);
    group* members = ::getgrgid(info.st_gid);
    return DeviceFacts{info.st_mode, info.st_uid, info.st_gid,
                       owner != nullptr ? owner->pw_name : std::to_string(info.st_uid),
                       members != nullptr ? members->gr_name : std::to_string(info.st_gid)};
}

std::vector<gid_t> AccountGroups(const char* name, gid_t primary) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(name, primary, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(name, primary, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return groups;
}

std::vector<gid_t> ProcessGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    groups.push_back(::getegid());
    return groups;
}

UserFacts ThisUser() {
    passwd* entry = ::getpwuid(::geteuid());
    if (entry == nullptr) {
        return {std::to_string(::geteuid()), ::geteuid(), ProcessGroups(), ProcessGroups()};
    }
    return {entry->pw_name, entry->pw_uid, ProcessGroups(),
            AccountGroups(entry->pw_name, entry->pw_gid)};
}
