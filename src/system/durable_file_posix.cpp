#include "system/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void SyncDirectory(const fs::path& directory) {
    int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A file the user may write in a folder the user may not: the whole new content over the old,
// then cut to its length. Not atomic, but the only way such a file gets updated at all.
bool RewriteInPlace(const fs::path& file, std::string_view content) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, content) && ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 &&
              ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

}  // namespace

// Writes beside the file and renames over it, so a crash or a full disk leaves either the
// complete old file or the complete new one.
bool ReplaceFileDurably(const fs::path& file, std::string_view content) {
    fs::path directory = file.parent_path();
    std::string name = ".";
    name += file.filename().string();
    name += ".XXXXXX";
    std::string temp = (directory / name).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        // Only a folder that refuses us; a full disk must keep the old file whole.
        return (errno == EACCES || errno == EPERM) && RewriteInPlace(file, content);
    }
    struct stat old {};
    if (::stat(file.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        (void)::fchown(fd, old.st_uid, old.st_gid);
    } else {
        ::fchmod(fd, 0644);
    }
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectory(directory);
    return true;
}

bool MayWriteFile(const fs::path& file) {
    return ::access(file.c_str(), W_OK) == 0;
}

bool FolderTakesNewFiles(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}
