#include "system/durable_file.h"

#include <system_error>

namespace fs = std::filesystem;

fs::path FollowLinks(fs::path file) {
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(file, error); ++hops) {
        fs::path target = fs::read_symlink(file, error);
        if (error) {
            break;
        }
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return file;
}
