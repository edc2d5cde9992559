#include "desktop/single_instance.h"

#include <cstdio>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// FNV-1a: the same name for the same path in every build, unlike std::hash.
std::uint64_t NameHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

}  // namespace

fs::path InstanceLockPath(const fs::path& settingsFile) {
    std::error_code error;
    fs::path absolute = fs::weakly_canonical(settingsFile, error);
    if (error) {
        absolute = fs::absolute(settingsFile, error);
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(NameHash(absolute.string())));
    fs::path folder = InstanceLockFolder();
    return folder.empty() ? folder : folder / ("beamclock-" + std::string(hash) + ".lock");
}
