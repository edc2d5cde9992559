#include <windows.h>

#include <algorithm>

#include "doctor/file_tail.h"

namespace {

const char* Kind(HANDLE handle) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_PIPE:
            return "a pipe";
        case FILE_TYPE_CHAR:
            return "a device";
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION facts{};
            if (!GetFileInformationByHandle(handle, &facts)) {
                return "not a regular file";
            }
            return facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "a folder" : nullptr;
        }
        default:
            return "not a regular file";
    }
}

}  // namespace

FileTail ReadFileTail(const std::filesystem::path& path, std::size_t maxBytes) {
    FileTail tail;
    // Shared every way: the running program keeps appending, and may start a new file. What
    // is judged is what was opened (backup semantics let a folder open, to be told as one).
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return tail;
    }
    LARGE_INTEGER size{};
    if (const char* kind = Kind(handle); kind != nullptr || !GetFileSizeEx(handle, &size)) {
        tail.outcome = FileTail::Outcome::NotAFile;
        tail.what = kind != nullptr ? kind : "not a regular file";
        CloseHandle(handle);
        return tail;
    }
    auto whole = static_cast<std::size_t>(std::max<LONGLONG>(size.QuadPart, 0));
    std::size_t from = whole > maxBytes ? whole - maxBytes : 0;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(from);
    tail.bytes.resize(whole - from);
    DWORD got = 0;
    if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) ||
        !ReadFile(handle, tail.bytes.data(), static_cast<DWORD>(tail.bytes.size()), &got,
                  nullptr)) {
        got = 0;
    }
    tail.bytes.resize(got);
    tail.cut = from > 0 && got > 0;  // a file emptied while it was read is no longer cut
    tail.outcome = FileTail::Outcome::Read;
    CloseHandle(handle);
    return tail;
}
