#include <sys/wait.h>

#include <cstdio>

#include "doctor/run_for_output.h"

CommandOutput RunForOutput(const std::string& command) {
    CommandOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.text.append(buffer, got);
    }
    int status = ::pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return result;
}
