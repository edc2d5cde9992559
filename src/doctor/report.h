#pragma once

#include <string>
#include <vector>

// What the doctor found, in the order it looked. A problem is something that stops Beamclock
// from setting the clock as configured; a note is worth knowing but stops nothing; info is what
// is there, neither right nor wrong (a port nobody chose, a device present).
enum class Level { Ok, Info, Note, Problem };

struct Finding {
    std::string section;  // "settings", "ports", "serial devices", "clock", "running"
    std::string subject;  // what it is about: "file", "COM5", "time zone" ...
    Level level = Level::Ok;
    std::string text;
};

class Report {
  public:
    void Add(std::string section, std::string subject, Level level, std::string text);
    bool HasProblem() const;
    // The last lines of the log or the journal, shown as they are after the findings.
    void SetEvents(std::vector<std::string> lines) { events_ = std::move(lines); }
    const std::vector<Finding>& findings() const { return findings_; }
    const std::vector<std::string>& events() const { return events_; }

    // For people: a heading a section, a line a finding, every text as TerminalText shows it.
    std::string AsText() const;
    // For scripts: {"version": ..., "ok": ..., "findings": [{section, subject, level, text}],
    // "recent_events": [line, ...]}.
    std::string AsJson() const;

  private:
    std::vector<Finding> findings_;
    std::vector<std::string> events_;
};

// text as a terminal may be given it: control characters (C0, DEL, C1) and bytes that are no
// UTF-8 as \xNN, so that a value the doctor read (a COMPORT, a process name, a log line) can
// neither move the cursor nor clear the screen. UTF-8 stays as it reads.
std::string TerminalText(const std::string& text);

std::string JsonString(const std::string& text);
