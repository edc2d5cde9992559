#pragma once

#include <filesystem>
#include <string_view>

// Replacing a file so that a crash, a full disk or a pulled plug leaves either the whole old
// file or the whole new one: a temporary file beside it, flushed to the disk, then renamed
// (MoveFileExW on Windows) over the old one.

// The file a write really changes: a link is followed to the file it names.
std::filesystem::path FollowLinks(std::filesystem::path file);

// Replaces file with content. A writable file in a folder that refuses a temporary file beside
// it is rewritten in place instead, whole, flushed and synced (not atomic, but the only way such
// a file gets updated at all), once room for the new length is reserved, so that a full disk
// refuses the change rather than tearing the file. False, with the file untouched, when it
// cannot. A new file gets 0666 less the umask; a file that is there keeps its mode and owner.
// On POSIX each replace also removes the temporary files of the user's own, over a minute old,
// that replaces of this file killed outright left beside it.
bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view content);

// Whether file may be opened for writing; it is not changed.
bool MayWriteFile(const std::filesystem::path& file);

// Whether a new file may be made in folder. On Windows this is answered by making one, the
// temporary file a replace would make, and removing it again: _waccess looks only at the
// read-only attribute, never at what the folder's access list allows (Program Files refuses
// a standard user). On Linux access() asks the kernel the same question without a trace.
bool FolderTakesNewFiles(const std::filesystem::path& folder);
