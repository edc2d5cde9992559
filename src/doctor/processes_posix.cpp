#include "doctor/processes.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::string UserName(uid_t uid) {
    passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

Process Read(pid_t pid, const fs::path& dir) {
    Process process;
    process.pid = pid;
    uid_t uid = 0;
    std::ifstream(dir / "comm") >> process.name;
    std::ifstream status(dir / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream(line.substr(4)) >> uid;
        }
    }
    process.owner = std::to_string(uid);
    process.user = UserName(uid);
    std::ifstream cgroup(dir / "cgroup");
    for (std::string line; std::getline(cgroup, line);) {
        std::string unit = line.substr(line.rfind('/') + 1);
        bool ours = unit == kServiceUnit || (unit.rfind("beamclockd@", 0) == 0 && unit.size() > 8 &&
                                             unit.ends_with(".service"));
        process.unit = ours ? unit : process.unit;
        process.oldService = process.oldService ||
                             line.find(std::string("/") + kOldServiceUnit) != std::string::npos;
    }
    process.service = !process.unit.empty() || process.name == kServiceProgram;
    std::error_code error;
    if (process.name == kDesktopProgram || process.name == kServiceProgram) {
        std::string exe = fs::read_symlink(dir / "exe", error).string();
        constexpr std::string_view kDeleted = " (deleted)";
        process.deleted = exe.size() > kDeleted.size() &&
                          exe.compare(exe.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0;
        if (process.name == kDesktopProgram) {
            process.folder = fs::path(exe).parent_path().string();
        }
    }
    for (const auto& fd : fs::directory_iterator(dir / "fd", error)) {
        struct stat target {};
        if (::stat(fd.path().c_str(), &target) == 0 && S_ISCHR(target.st_mode)) {
            process.openFiles.emplace_back(target.st_dev, target.st_ino);
        }
    }
    return process;
}

}  // namespace

bool ProcessTable::ShowsHolders() {
    return true;
}

ProcessTable::ProcessTable() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            processes_.push_back(Read(static_cast<pid_t>(std::stol(name)), entry.path()));
        }
    }
}

std::vector<const Process*> ProcessTable::Holding(const std::string& device) const {
    std::vector<const Process*> holders;
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0) {
        return holders;
    }
    for (const Process& process : processes_) {
        for (const auto& [dev, ino] : process.openFiles) {
            if (dev == wanted.st_dev && ino == wanted.st_ino) {
                holders.push_back(&process);
                break;
            }
        }
    }
    return holders;
}

const Process* ProcessTable::FlockHolder(const std::string& device) const {
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0) {
        return nullptr;
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF": the pid, then the file system's device
    // (major:minor in hex) and the inode.
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK") {
            continue;
        }
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) == 3 &&
            makedev(major, minor) == wanted.st_dev && inode == wanted.st_ino) {
            return Find(static_cast<pid_t>(pid));
        }
    }
    return nullptr;
}
