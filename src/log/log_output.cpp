#include "log/log_output.h"

#include "system/user_places.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstdlib>

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
