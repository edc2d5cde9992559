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

std::string Describe(const Process& process) {
    return process.name + " (pid " + std::to_string(process.pid) + ", user " + process.user +
           (process.service ? ", " + (process.unit.empty() ? kServiceUnit : process.unit) : "") +
           ")";
}

std::string DescribeHolder(const Process& process) {
    std::string who = process.service                   ? "Beamclock (the service)"
                      : process.name == kDesktopProgram ? "Beamclock"
                                                        : "another program";
    return who + ": " + Describe(process);
}
