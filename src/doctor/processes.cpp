#include "doctor/processes.h"

std::vector<const Process*> ProcessTable::Named(const std::string& name) const {
    std::vector<const Process*> found;
    for (const Process& process : processes_) {
        if (process.name == name) {
            found.push_back(&process);
        }
    }
    return found;
}

const Process* ProcessTable::Find(pid_t pid) const {
    for (const Process& process : processes_) {
        if (process.pid == pid) {
            return &process;
        }
    }
    return nullptr;
}

std::vector<const Process*> ProcessTable::Services() const {
    std::vector<const Process*> found;
    for (const Process& process : processes_) {
        if (process.service) {
            found.push_back(&process);
        }
    }
    return found;
}

std::vector<const Process*> ProcessTable::LeftRunning() const {
    std::vector<const Process*> found;
    for (const Process& process : processes_) {
        if (process.oldService || process.deleted) {
            found.push_back(&process);
        }
    }
    return found;
}

std::string Describe(const Process& process) {
    return process.name + " (pid " + std::to_string(process.pid) + ", user " + process.user +
           (process.service ? ", " + (process.unit.empty() ? kServiceUnit : process.unit) : "") +
           (process.oldService ? ", " + std::string(kOldServiceUnit) + " of 1.0.2" : "") +
           (process.deleted ? ", running from a deleted file" : "") + ")";
}

std::string HowToEnd(const Process& process) {
    if (process.oldService) {
        // Its unit file may be gone with its package, so disable cannot find it: its link goes.
        return std::string("; `sudo systemctl stop ") + kOldServiceUnit +
               "` ends it, and `sudo rm -f /etc/systemd/system/*.wants/" + kOldServiceUnit +
               " && sudo systemctl daemon-reload` keeps it from starting again";
    }
    if (process.deleted) {
        return "; `" + std::string(process.user == "root" ? "sudo " : "") + "kill " +
               std::to_string(process.pid) + "` ends it";
    }
    return {};
}

std::string DescribeHolder(const Process& process) {
    std::string who = process.service                   ? "Beamclock (the service)"
                      : process.name == kDesktopProgram ? "Beamclock"
                                                        : "another program";
    return who + ": " + Describe(process);
}
