#pragma once

#include <memory>
#include <string>

// The line the doctor listens on: opened at 9600 8N1, never written to. One small piece per
// platform; what arrives is judged the same everywhere.
class ListenLine {
  public:
    // None, with the system's words in `error`, when the device cannot be opened.
    static std::unique_ptr<ListenLine> Open(const std::string& device, std::string& error);
    virtual ~ListenLine() = default;

    // The bytes that came within timeoutMs, or none; returns at once when some are there.
    virtual std::string Read(int timeoutMs) = 0;
};
