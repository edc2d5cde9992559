// Measures how well Beamclock keeps time on the line: runs the real program on Qt's offscreen
// platform with its port on a pseudo-terminal, reads the packets off the other side, and
// compares it with a baseline build whose two timers run free. Not a test: run it.
//
//   beamclock_benchmark [--seconds N] [--load] [--suspend] [--program PATH] [--baseline PATH]
//                       [--wine] [--wine-program PATH] [--wine-baseline PATH] [--service]
//
// --service also runs beamclockd, which wakes only for the marks it needs, beside the window
// program.
// --suspend stops the programs half-way through (SIGSTOP) and lets them go on (SIGCONT)
// half a second into an even second, as a resume from suspend does at any moment.
// --wine also runs the Windows build and its free-running baseline under Wine, in the same
// run, each with a COM port of a fresh Wine prefix mapped to its pseudo-terminal. Wine needs
// a display: run it under xvfb-run.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "clock/packet.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr double kWarmUpSeconds = 2.0;
constexpr double kWineWarmUpSeconds = 8.0;  // Wine takes seconds to start a program

double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// One copy of a program under measurement, with its line.
struct Run {
    fs::path executable;
    std::string winePrefix;  // empty: a Linux program
    bool service = false;    // beamclockd, given its settings file
    int comPort = 3;
    fs::path directory;
    int master = -1;
    int slave = -1;
    pid_t pid = -1;
    std::string pending;
    double pendingSince = 0;
    std::vector<double> latenciesMs;
    double worstLatenessMs = 0;  // start-up and suspend included
    std::vector<long> namedSeconds;
    int oddSeconds = 0;
    int malformed = 0;
    double cpuAtWarmUp = 0;
    double cpuAtEnd = 0;
    double peakMegabytes = 0;
};

// Time on the CPU, user and system, summed over the program's threads. The scheduler's own
// count in nanoseconds: the tick-sampled utime and stime are far too coarse for a program that
// wakes ten times a second for a few microseconds.
double CpuSeconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double nanoseconds = 0;
        if (schedstat >> nanoseconds) {
            total += nanoseconds / 1e9;
        }
    }
    return total;
}

double PeakMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

bool Start(Run& run) {
    char name[256] = {};
    if (openpty(&run.master, &run.slave, name, nullptr, nullptr) != 0) {
        return false;
    }
    termios raw{};
    tcgetattr(run.slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(run.slave, TCSANOW, &raw);
    fcntl(run.master, F_SETFL, fcntl(run.master, F_GETFL) | O_NONBLOCK);

    char pattern[] = "/tmp/beamclock-bench-XXXXXX";
    run.directory = mkdtemp(pattern);
    bool wine = !run.winePrefix.empty();
    fs::path copy = run.directory / (wine ? "beamclock.exe" : run.executable.filename());
    fs::copy_file(run.executable, copy);
    std::string port = "COM" + std::to_string(run.comPort);
    std::ofstream settings(run.directory / "Skyfix.ini");
    settings << "[SerialSync]\nCOMPORT=+" << port << "\nTIMEUTC=False\nTIMELOCAL=True\n";
    std::vector<std::string> env{"TZ=UTC0", "XDG_RUNTIME_DIR=" + run.directory.string()};
    if (wine) {
        fs::path device =
            fs::path(run.winePrefix) / "dosdevices" / ("com" + std::to_string(run.comPort));
        fs::remove(device);
        fs::create_symlink(name, device);
        env.push_back("WINEPREFIX=" + run.winePrefix);
        env.push_back("WINEDEBUG=-all");
        for (const char* inherited : {"DISPLAY", "HOME", "PATH"}) {
            if (const char* value = std::getenv(inherited)) {
                env.push_back(std::string(inherited) + "=" + value);
            }
        }
    } else {
        settings << "\n[Ports]\n" << port << "=" << name << "\n";
        // This machine's clock need not be synchronised, which the service would wait for.
        settings << "[Service]\nSendUnsynchronised=True\n";
        env.push_back("QT_QPA_PLATFORM=offscreen");
    }
    settings.close();

    std::vector<char*> envp;
    for (auto& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string path = copy.string();
    std::string wineCommand = "wine";
    std::vector<char*> args;
    if (wine) {
        args.push_back(wineCommand.data());
    }
    args.push_back(path.data());
    std::string settingsArgument = "--settings", settingsFile = (run.directory / "Skyfix.ini");
    if (run.service) {
        args.push_back(settingsArgument.data());
        args.push_back(settingsFile.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int failed = posix_spawnp(&run.pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0;
}

// A fresh Wine prefix, set up before anything is measured (about 20 s).
std::string MakeWinePrefix() {
    char pattern[] = "/tmp/beamclock-bench-wine-XXXXXX";
    std::string prefix = mkdtemp(pattern);
    std::string command = "WINEPREFIX=" + prefix +
                          " WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wineboot -i "
                          ">/dev/null 2>&1 </dev/null";
    return std::system(command.c_str()) == 0 ? prefix : std::string();
}

void RemoveWinePrefix(const std::string& prefix) {
    std::string command = "WINEPREFIX=" + prefix + " wineserver -k >/dev/null 2>&1";
    [[maybe_unused]] int ignored = std::system(command.c_str());
    fs::remove_all(prefix);
}

// The packets carry UTC0 time: the programs run with TZ=UTC0.
long NamedSecond(const CalendarValue& v) {
    std::tm fields = CalendarFields(v);
    return static_cast<long>(timegm(&fields));
}

// Both programs stopped for a while, then continued half a second into an even second.
void Suspend(const std::vector<Run*>& runs) {
    for (Run* run : runs) {
        kill(run->pid, SIGSTOP);
    }
    double resumeAt = std::floor(WallSeconds() / 2) * 2 + 2.5;
    std::this_thread::sleep_for(std::chrono::duration<double>(resumeAt - WallSeconds()));
    for (Run* run : runs) {
        kill(run->pid, SIGCONT);
    }
}

void Take(Run& run, double arrival, double measureFrom) {
    char buffer[512];
    ssize_t got;
    while ((got = read(run.master, buffer, sizeof buffer)) > 0) {
        if (run.pending.empty()) {
            run.pendingSince = arrival;
        }
        run.pending.append(buffer, static_cast<std::size_t>(got));
        while (run.pending.size() >= kPacketLength) {
            std::string packet = run.pending.substr(0, kPacketLength);
            run.pending.erase(0, kPacketLength);
            double firstByte = run.pendingSince;
            run.pendingSince = arrival;
            ParsedPacket parsed = ParseClockPacket(packet);
            if (firstByte < measureFrom) {
                if (parsed.value) {
                    run.worstLatenessMs = std::max(run.worstLatenessMs,
                                                   (firstByte - NamedSecond(*parsed.value)) * 1000);
                }
                continue;
            }
            if (!parsed.value) {
                ++run.malformed;
                continue;
            }
            long named = NamedSecond(*parsed.value);
            run.namedSeconds.push_back(named);
            run.oddSeconds += named % 2 != 0;
            run.latenciesMs.push_back((firstByte - static_cast<double>(named)) * 1000.0);
            run.worstLatenessMs = std::max(run.worstLatenessMs, run.latenciesMs.back());
        }
    }
}

void Stop(Run& run) {
    run.cpuAtEnd = CpuSeconds(run.pid);
    run.peakMegabytes = PeakMegabytes(run.pid);
    kill(run.pid, run.winePrefix.empty() ? SIGTERM : SIGKILL);
    waitpid(run.pid, nullptr, 0);
    close(run.master);
    close(run.slave);
    fs::remove_all(run.directory);
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, index == 0 ? 0 : index - 1)];
}

struct Tally {
    int missed = 0;
    int doubled = 0;
};

Tally CountEvenSeconds(const Run& run) {
    Tally tally;
    if (run.namedSeconds.empty()) {
        return tally;
    }
    std::map<long, int> seen;
    for (long second : run.namedSeconds) {
        ++seen[second];
    }
    long first = seen.begin()->first;
    long last = seen.rbegin()->first;
    for (long second = first + (first % 2 != 0); second <= last; second += 2) {
        auto found = seen.find(second);
        if (found == seen.end()) {
            ++tally.missed;
        } else if (found->second > 1) {
            tally.doubled += found->second - 1;
        }
    }
    return tally;
}

std::vector<pid_t> StartLoad() {
    std::vector<pid_t> workers;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < cores; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            volatile unsigned long spin = 0;
            for (;;) {
                spin = spin + 1;
            }
        }
        workers.push_back(pid);
    }
    return workers;
}

void Row(const char* name, double a, double b, const char* format) {
    char left[32], right[32];
    std::snprintf(left, sizeof left, format, a);
    std::snprintf(right, sizeof right, format, b);
    double ratio = b != 0 ? a / b : NAN;
    std::printf("| %-44s | %12s | %12s | %7.3f |\n", name, left, right, ratio);
}

void Table(const Run& marks, const Run& baseline, double seconds,
           const char* right = "free-running") {
    std::printf("| %-44s | %12s | %12s | %7s |\n", "figure", "on the marks", right, "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(14, '-').c_str(),
                std::string(14, '-').c_str(), std::string(9, '-').c_str());
    const char* ms = "%.3f";
    Row("first byte after its second, min (ms)", Percentile(marks.latenciesMs, 0),
        Percentile(baseline.latenciesMs, 0), ms);
    Row("first byte after its second, median (ms)", Percentile(marks.latenciesMs, 0.5),
        Percentile(baseline.latenciesMs, 0.5), ms);
    Row("first byte after its second, p99 (ms)", Percentile(marks.latenciesMs, 0.99),
        Percentile(baseline.latenciesMs, 0.99), ms);
    Row("first byte after its second, max (ms)", Percentile(marks.latenciesMs, 1),
        Percentile(baseline.latenciesMs, 1), ms);
    Row("largest lateness, start-up included (ms)", marks.worstLatenessMs, baseline.worstLatenessMs,
        ms);
    Row("packets per minute", static_cast<double>(marks.latenciesMs.size()) * 60 / seconds,
        static_cast<double>(baseline.latenciesMs.size()) * 60 / seconds, "%.1f");
    Tally a = CountEvenSeconds(marks), b = CountEvenSeconds(baseline);
    Row("even seconds missed", a.missed, b.missed, "%.0f");
    Row("even seconds sent twice", a.doubled, b.doubled, "%.0f");
    Row("packets for odd seconds or malformed", marks.oddSeconds + marks.malformed,
        baseline.oddSeconds + baseline.malformed, "%.0f");
    auto cpuPercent = [seconds](const Run& run) {
        return (run.cpuAtEnd - run.cpuAtWarmUp) / seconds * 100;
    };
    Row("CPU, user + system (% of one core)", cpuPercent(marks), cpuPercent(baseline), "%.3f");
    Row("peak resident memory (MB)", marks.peakMegabytes, baseline.peakMegabytes, "%.1f");
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    bool load = false;
    bool suspend = false;
    bool suspended = false;
    fs::path here = fs::canonical("/proc/self/exe").parent_path();
    Run marks;
    marks.executable = here / "beamclock";
    Run baseline;
    baseline.executable = here / "beamclock_free_running";
    baseline.comPort = 4;
    bool wine = false;
    Run wineMarks;
    wineMarks.executable = here / "../../build-windows/bin/beamclock.exe";
    wineMarks.comPort = 5;
    Run service;
    service.executable = here / "beamclockd";
    service.comPort = 7;
    service.service = true;
    bool withService = false;
    Run wineBaseline;
    wineBaseline.executable = here / "../../build-windows/bin/beamclock_free_running.exe";
    wineBaseline.comPort = 6;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::stod(argv[++i]);
        } else if (arg == "--load") {
            load = true;
        } else if (arg == "--suspend") {
            suspend = true;
        } else if (arg == "--program" && i + 1 < argc) {
            marks.executable = argv[++i];
        } else if (arg == "--baseline" && i + 1 < argc) {
            baseline.executable = argv[++i];
        } else if (arg == "--wine") {
            wine = true;
        } else if (arg == "--service") {
            withService = true;
        } else if (arg == "--wine-program" && i + 1 < argc) {
            wineMarks.executable = argv[++i];
        } else if (arg == "--wine-baseline" && i + 1 < argc) {
            wineBaseline.executable = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--load] [--suspend] [--program PATH] "
                         "[--baseline PATH] [--wine] [--wine-program PATH] "
                         "[--wine-baseline PATH] [--service]\n",
                         argv[0]);
            return 2;
        }
    }

    std::vector<Run*> runs{&marks, &baseline};
    if (withService) {
        runs.push_back(&service);
    }
    std::string winePrefix;
    if (wine) {
        winePrefix = MakeWinePrefix();
        if (winePrefix.empty()) {
            std::fprintf(stderr, "could not set up a Wine prefix (is wine installed?)\n");
            return 1;
        }
        wineMarks.winePrefix = wineBaseline.winePrefix = winePrefix;
        runs.push_back(&wineMarks);
        runs.push_back(&wineBaseline);
    }
    std::vector<pid_t> workers = load ? StartLoad() : std::vector<pid_t>{};
    for (Run* run : runs) {
        if (!Start(*run)) {
            std::fprintf(stderr, "could not start %s\n", run->executable.c_str());
            return 1;
        }
    }
    double started = WallSeconds();
    double measureFrom = started + (wine ? kWineWarmUpSeconds : kWarmUpSeconds);
    double until = measureFrom + seconds;
    bool warmedUp = false;
    while (WallSeconds() < until) {
        std::vector<pollfd> ready;
        for (Run* run : runs) {
            ready.push_back({run->master, POLLIN, 0});
        }
        poll(ready.data(), ready.size(), 100);
        double arrival = WallSeconds();  // as close to the wake-up as we can take it
        for (Run* run : runs) {
            Take(*run, arrival, measureFrom);
        }
        if (suspend && !suspended && arrival >= measureFrom + seconds / 2) {
            suspended = true;
            Suspend(runs);
        }
        if (!warmedUp && arrival >= measureFrom) {
            warmedUp = true;
            for (Run* run : runs) {
                run->cpuAtWarmUp = CpuSeconds(run->pid);
            }
        }
    }
    for (Run* run : runs) {
        Stop(*run);
    }
    for (pid_t worker : workers) {
        kill(worker, SIGKILL);
        waitpid(worker, nullptr, 0);
    }
    if (wine) {
        RemoveWinePrefix(winePrefix);
    }

    std::printf(
        "Beamclock benchmark: %.0f s measured after %.0f s of start-up, %s%s, %ld cores\n\n",
        seconds, measureFrom - started, load ? "all cores kept busy" : "idle machine",
        suspend ? ", one suspend" : "", sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("Linux, Qt's offscreen platform:\n\n");
    Table(marks, baseline, seconds);
    if (withService) {
        std::printf("\nThe window program beside beamclockd:\n\n");
        Table(marks, service, seconds, "beamclockd");
    }
    if (wine) {
        std::printf("\nWindows build under Wine (its CPU and memory are the Wine process's):\n\n");
        Table(wineMarks, wineBaseline, seconds);
    }
    return 0;
}
