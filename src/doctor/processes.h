#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct Account;

// The service's unit and the two programs: the service runs beamclockd, a desktop session
// runs beamclock.
inline constexpr const char* kServiceUnit = "beamclockd.service";
inline constexpr const char* kServiceProgram = "beamclockd";
inline constexpr const char* kDesktopProgram = "beamclock";
inline constexpr const char* kOldServiceUnit = "beamclock.service";

// The processes of the machine as far as this user may see them: who they are and which
// devices they hold open. Read once from /proc; on Windows from its process list.
struct Process {
    pid_t pid = 0;
    // Whose it is, as the system tells: the user's id on Linux, the user's security id
    // ("S-1-5-21-...") on Windows. Equal for every process of one user; empty where the system
    // does not say (on Windows, for the processes that are no Beamclock, which are not asked).
    std::string owner;
    std::string name;      // the command's name
    std::string user;      // the account's name, or its number
    bool service = false;  // beamclockd, or anything systemd started as one of its units
    std::string unit;      // that unit: "beamclockd.service", "beamclockd@hall.service"
    // Where a Beamclock's program lies, when this user may see it: with several installed
    // (a package and a build, the installer's and a zip's) it tells which one runs.
    std::string folder;
    std::vector<std::pair<dev_t, ino_t>> openFiles;
    // 1.0.2's service, beamclock.service, which an upgrade that could not stop it left running.
    bool oldService = false;
    // A Beamclock whose program file was deleted (removed or upgraded) while it ran.
    bool deleted = false;
};

class ProcessTable {
  public:
    ProcessTable();  // reads /proc

    // Whether this system says who holds a device: Linux does, for the processes this user may
    // see; Windows says of no program which devices it has open.
    static bool ShowsHolders();
    // The processes that have the device (followed through links) open: only those whose
    // /proc/PID/fd this user may read, so not another user's. None on Windows.
    std::vector<const Process*> Holding(const std::string& device) const;
    std::vector<const Process*> Named(const std::string& name) const;
    const Process* Find(pid_t pid) const;
    // The process /proc/locks names as holding an flock on the device, if any: the lock
    // every user may see, and the one Beamclock holds. None on Windows.
    const Process* FlockHolder(const std::string& device) const;
    std::vector<const Process*> Services() const;
    // The Beamclocks an upgrade left running (HowToEnd says how to end them).
    std::vector<const Process*> LeftRunning() const;

  private:
    std::vector<Process> processes_;
};

// The owner of the account's processes, as Process::owner has it.
std::string OwnerOf(const Account& account);

std::string Describe(const Process& process);  // "beamclock (pid 123, user ann)"
// "Beamclock (the service)", "Beamclock", or "another program", then Describe.
std::string DescribeHolder(const Process& process);
// For a Beamclock left running by an upgrade, how to end it; empty for any other process.
std::string HowToEnd(const Process& process);
