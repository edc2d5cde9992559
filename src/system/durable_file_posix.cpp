#include "system/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

// mkstemp's letters and length, so that the leftovers of versions that used it are known too.
constexpr std::string_view kNameLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kNameTail = 6;
// A temporary file this old is nobody's write under way: it was left by a writer killed outright.
constexpr std::time_t kLeftoverSeconds = 60;

// All of content at offset, or false: a write that stops short is a full disk, never a success.
bool WriteAllAt(int fd, std::string_view content, off_t offset) {
    while (!content.empty()) {
        ssize_t written = ::pwrite(fd, content.data(), content.size(), offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return true;
}

// Room for the new length before a byte of the file is overwritten, so that a full disk
// refuses the whole change instead of stopping it half-way. The old length is there already;
// only the growth beyond it is reserved (glibc's stand-in for file systems that cannot
// allocate ahead would read the old part, which a file opened for writing only does not allow).
// False, with the file as it was, when the room cannot be had.
bool Reserve(int fd, off_t oldSize, off_t size) {
    if (size <= oldSize) {
        return true;
    }
    int error = 0;
    do {
        error = ::posix_fallocate(fd, oldSize, size - oldSize);  // gives the error, not errno
    } while (error == EINTR);
    if (error == EOPNOTSUPP || error == ENOSYS) {
        // A C library without glibc's stand-in: the room is had the same way, by writing
        // zeros there, which the content then overwrites.
        std::string zeros(static_cast<std::size_t>(size - oldSize), '\0');
        error = WriteAllAt(fd, zeros, oldSize) ? 0 : ENOSPC;
    }
    if (error != 0) {
        // A reservation that failed part-way may have moved the end (ext4 does as it
        // allocates): the old end again, so the file reads as it did.
        [[maybe_unused]] int ignored = ::ftruncate(fd, oldSize);
        return false;
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
// then cut to its length. Not atomic, but the only way such a file gets updated at all; the
// room is reserved first, so a full disk leaves the old file whole.
bool RewriteInPlace(const fs::path& file, std::string_view content) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    auto size = static_cast<off_t>(content.size());
    bool ok = ::fstat(fd, &old) == 0 && Reserve(fd, old.st_size, size) &&
              WriteAllAt(fd, content, 0) && ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool IsTemporaryName(std::string_view name, std::string_view prefix) {
    return name.size() == prefix.size() + kNameTail && name.substr(0, prefix.size()) == prefix &&
           name.find_first_not_of(kNameLetters, prefix.size()) == std::string_view::npos;
}

// What writes killed outright (SIGKILL, a power cut) left beside the file. Only the user's own
// plain files, and only old ones: a fresh one may be another copy's write under way.
void RemoveLeftovers(const fs::path& directory, std::string_view prefix) {
    DIR* folder = ::opendir(directory.empty() ? "." : directory.c_str());
    if (folder == nullptr) {
        return;
    }
    std::time_t before = std::time(nullptr) - kLeftoverSeconds;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat status {};
        if (IsTemporaryName(entry->d_name, prefix) &&
            ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_mtime < before) {
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
    }
    ::closedir(folder);
}

// A new file with a temporary name beside the file. Not mkstemp: its 0600 would have to be
// widened by guessing the umask, and a new settings file is to get 0666 less the umask (and
// the folder's default access list), as other programs' files do. Sets errno on failure.
int CreateTemporary(const fs::path& directory, const std::string& prefix, mode_t mode,
                    std::string& path) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (std::size_t i = 0; i < kNameTail; ++i) {
            name += kNameLetters[random() % kNameLetters.size()];
        }
        path = (directory / name).string();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

// Writes beside the file and renames over it, so a crash or a full disk leaves either the
// complete old file or the complete new one.
bool ReplaceFileDurably(const fs::path& file, std::string_view content) {
    fs::path directory = file.parent_path();
    std::string prefix = "." + file.filename().string() + ".";
    RemoveLeftovers(directory, prefix);
    struct stat old {};
    bool replacing = ::stat(file.c_str(), &old) == 0;
    std::string temp;
    // An old file's copy stays private until it has the old file's mode.
    int fd = CreateTemporary(directory, prefix, replacing ? 0600 : 0666, temp);
    if (fd < 0) {
        // Only a folder that refuses us; a full disk must keep the old file whole.
        return (errno == EACCES || errno == EPERM) && RewriteInPlace(file, content);
    }
    if (replacing) {
        ::fchmod(fd, old.st_mode & 07777);
        (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    bool ok = WriteAllAt(fd, content, 0) && ::fsync(fd) == 0;
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
