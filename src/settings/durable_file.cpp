#include "settings/durable_file.h"

#include <algorithm>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

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

#ifndef _WIN32
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
#else
namespace {

bool WriteAll(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

// Content written, cut to length and flushed to the disk; closes the handle.
bool WriteAndClose(HANDLE file, std::string_view content) {
    bool ok = WriteAll(file, content) && ::SetEndOfFile(file) && ::FlushFileBuffers(file);
    return ::CloseHandle(file) && ok;
}

// A file the user may write in a folder the user may not (Program Files): rewritten in place.
bool RewriteInPlace(const fs::path& file, std::string_view content) {
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle != INVALID_HANDLE_VALUE && WriteAndClose(handle, content);
}

}  // namespace

// Writes beside the file and moves it over the old one, so a crash or a full disk leaves either
// the complete old file or the complete new one.
bool ReplaceFileDurably(const fs::path& file, std::string_view content) {
    fs::path temp = file.parent_path() / (L"." + file.filename().wstring() + L".tmp");
    HANDLE handle = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Only a folder that refuses us; a full disk must keep the old file whole.
        return ::GetLastError() == ERROR_ACCESS_DENIED && RewriteInPlace(file, content);
    }
    if (!WriteAndClose(handle, content) ||
        !::MoveFileExW(temp.c_str(), file.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}
#endif

#ifndef _WIN32

bool MayWriteFile(const fs::path& file) {
    return ::access(file.c_str(), W_OK) == 0;
}

bool FolderTakesNewFiles(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

#else

bool MayWriteFile(const fs::path& file) {
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle != INVALID_HANDLE_VALUE && ::CloseHandle(handle);
}

bool FolderTakesNewFiles(const fs::path& folder) {
    static unsigned attempt = 0;
    fs::path probe = folder / (L".beamclock-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                               std::to_wstring(++attempt) + L".tmp");
    HANDLE handle = ::CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return handle != INVALID_HANDLE_VALUE && ::CloseHandle(handle);
}

#endif
