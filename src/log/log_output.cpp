#include "log/log_output.h"

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Root with another user's HOME or XDG_STATE_HOME (sudo -E, or a sudo that keeps HOME) would
// leave folders and a file of root's in that user's home: their own Beamclock could then no
// longer write its log, nor other programs their state. The nearest folder that exists says
// whose place it is.
bool InAnotherUsersPlace(const std::filesystem::path& file) {
#ifdef _WIN32
    (void)file;
#else
    if (::geteuid() != 0) {
        return false;
    }
    for (std::filesystem::path folder = file.parent_path(); !folder.empty();
         folder = folder.parent_path()) {
        struct stat status {};
        if (::stat(folder.c_str(), &status) == 0) {
            return status.st_uid != 0;
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
#endif
    return false;
}

}  // namespace

LogOutput::LogOutput(bool forJournal, std::optional<LogFile> file)
    : forJournal_(forJournal), file_(forJournal ? std::nullopt : std::move(file)) {}

std::unique_ptr<LogOutput> LogOutput::ForThisProcess() {
    bool journal = StandardErrorIsJournal();
    std::filesystem::path path = LogFilePath();
    return std::make_unique<LogOutput>(
        journal, LogFile(InAnotherUsersPlace(path) ? std::filesystem::path() : path));
}

void LogOutput::Write(Priority priority, std::string_view text, std::int64_t unixMilliseconds) {
    std::string line = FormatLine(priority, text, forJournal_, unixMilliseconds);
    std::lock_guard lock(mutex_);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    if (file_) {
        line.pop_back();
        file_->Append(line);  // a file that cannot be written leaves standard error to say it
    }
}

bool StandardErrorIsJournal() {
#ifdef _WIN32
    return false;
#else
    struct stat status {};
    if (::fstat(2, &status) != 0) {
        return false;
    }
    return JournalStreamNames(std::getenv("JOURNAL_STREAM"), status.st_dev, status.st_ino);
#endif
}
