#include "system/durable_file.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace fs = std::filesystem;

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

bool Seek(HANDLE file, LONGLONG offset) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

bool SetEnd(HANDLE file, LONGLONG size) {
    return Seek(file, size) && ::SetEndOfFile(file);
}

// Room for size bytes before a byte of the file is overwritten, so that a full disk refuses
// the whole change instead of stopping it half-way: the end moved out to the new length, which
// has the clusters allocated or fails. False, with the old end back, when it cannot.
bool Reserve(HANDLE file, LONGLONG oldSize, LONGLONG size) {
    if (size <= oldSize || SetEnd(file, size)) {
        return true;
    }
    SetEnd(file, oldSize);
    return false;
}

// A file the user may write in a folder the user may not (Program Files): rewritten in place,
// the room reserved first, so a full disk leaves the old file whole.
bool RewriteInPlace(const fs::path& file, std::string_view content) {
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER old{};
    if (!::GetFileSizeEx(handle, &old) ||
        !Reserve(handle, old.QuadPart, static_cast<LONGLONG>(content.size())) || !Seek(handle, 0)) {
        ::CloseHandle(handle);
        return false;
    }
    return WriteAndClose(handle, content);
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
    // The move keeps the temporary file's attributes: give it the old file's, or the file
    // would be hidden from then on.
    DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (!WriteAndClose(handle, content) ||
        !::SetFileAttributesW(temp.c_str(), attributes == INVALID_FILE_ATTRIBUTES
                                                ? FILE_ATTRIBUTE_NORMAL
                                                : attributes) ||
        !::MoveFileExW(temp.c_str(), file.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

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
