#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The processes of the machine as far as this user may see them: who they are and which
// devices they hold open. Read once from /proc.
struct Process {
    pid_t pid = 0;
    uid_t uid = 0;
    std::string name;      // the command's name
    std::string user;      // the account's name, or its number
    bool service = false;  // started by systemd as beamclockd.service (1.0.2: beamclock.service)
    std::vector<std::pair<dev_t, ino_t>> openFiles;
};

class ProcessTable {
  public:
    ProcessTable();  // reads /proc

    // The processes that have the device (followed through links) open.
    std::vector<const Process*> Holding(const std::string& device) const;
    std::vector<const Process*> Named(const std::string& name) const;
    const Process* Find(pid_t pid) const;
    // The process /proc/locks names as holding an flock on the device, if any.
    const Process* FlockHolder(const std::string& device) const;

  private:
    std::vector<Process> processes_;
};

std::string Describe(const Process& process);  // "beamclock (pid 123, user ann)"
