#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "doctor/serial_devices.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kKinds[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};

// Where the name's kind stands in kKinds and its number: ttyS2 before ttyS10 before ttyUSB0.
std::pair<int, int> Rank(const std::string& name) {
    for (int kind = 0; kind < static_cast<int>(std::size(kKinds)); ++kind) {
        std::string prefix = kKinds[kind];
        std::string rest = name.substr(std::min(prefix.size(), name.size()));
        if (name.starts_with(prefix) && !rest.empty() && rest.size() < 4 &&
            std::all_of(rest.begin(), rest.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return {kind, std::stoi(rest)};
        }
    }
    return {-1, 0};
}

// The kernel makes ttyS0 to ttyS31 whether or not a UART is behind them; type 0 says none is.
bool NoUartBehind(const fs::path& root, const std::string& name) {
    std::ifstream type(root / "sys/class/tty" / name / "type");
    int value = -1;
    return name.starts_with("ttyS") && type >> value && value == 0;
}

template <typename Each>
void ForEntry(const fs::path& folder, Each each) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        each(entry->path());
    }
}

}  // namespace

std::vector<SerialDevice> PresentSerialDevices(const fs::path& root) {
    std::vector<SerialDevice> devices;
    ForEntry(root / "dev", [&](const fs::path& path) {
        std::string name = path.filename().string();
        if (Rank(name).first >= 0 && !NoUartBehind(root, name)) {
            devices.push_back({path.string(), {}, {}});
        }
    });
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return Rank(fs::path(a.device).filename().string()) <
               Rank(fs::path(b.device).filename().string());
    });
    std::vector<fs::path> links;
    ForEntry(root / "dev/serial/by-id", [&](const fs::path& path) { links.push_back(path); });
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        auto found = std::find_if(devices.begin(), devices.end(), [&](const SerialDevice& device) {
            return SameFile(link.string(), device.device);
        });
        std::error_code error;
        if (found != devices.end()) {
            found->byId.push_back(link.string());
        } else if (fs::path target = fs::canonical(link, error); !error) {
            devices.push_back({target.string(), {link.string()}, {}});  // a kind of its own
        }
    }
    return devices;
}
