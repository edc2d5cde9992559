#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "log/log_file.h"
#include "log/log_line.h"

// Where the lines go: always standard error; when that is the journal, with the priority in
// front and nothing else anywhere; otherwise with the local time in front, and into the file
// too. Writes are whole lines, one call each, so lines from Qt's threads never interleave.
class LogOutput {
  public:
    // For the journal: nothing but standard error. Otherwise the file, where there is one.
    LogOutput(bool forJournal, std::optional<LogFile> file);

    // Decided from this process: JOURNAL_STREAM against standard error, and LogFilePath().
    static std::unique_ptr<LogOutput> ForThisProcess();

    void Write(Priority priority, std::string_view text, std::int64_t unixMilliseconds);

    bool forJournal() const { return forJournal_; }

  private:
    bool forJournal_;
    std::optional<LogFile> file_;
    std::mutex mutex_;
};

// Whether this process's standard error is the journal.
bool StandardErrorIsJournal();
