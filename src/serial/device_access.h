#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// Who may open a device, and what to tell a user who may not: rules on plain facts, so they
// hold wherever the facts come from.
struct DeviceFacts {
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::string ownerName;
    std::string groupName;
};

// The device's mode, owner and group, followed through links; none when it is not there.
std::optional<DeviceFacts> DeviceFactsOf(const std::string& device);

struct UserFacts {
    std::string name;
    uid_t uid = 0;
    std::vector<gid_t> sessionGroups;  // what this login has now
    std::vector<gid_t> accountGroups;  // what the account is configured with: a new login's
    bool isYou = true;                 // false when reporting for the user who ran sudo
};

// Groups whose members may do far more than open a serial port: never to be joined for one.
bool IsPrivilegedGroup(gid_t group, const std::string& name);

// Whether an account with these ids may open the device for reading and writing (root aside).
bool MayReadWrite(const DeviceFacts& device, uid_t uid, const std::vector<gid_t>& groups);

// "root (the owner) and the members of group dialout", "nobody".
std::string WhoMayOpen(const DeviceFacts& device);

// Why the user may not open the device, and the fix that is right: joining the device's group
// only where the group may read and write it and is no privileged one; otherwise who may open
// it and that an administrator must change the device's permissions.
std::string PermissionAdvice(const DeviceFacts& device, const UserFacts& user);

// The groups a new login of the account gets, and those this process has now.
std::vector<gid_t> AccountGroups(const char* name, gid_t primary);
std::vector<gid_t> ProcessGroups();

// The user this process runs as, for the program's own warning.
UserFacts ThisUser();
