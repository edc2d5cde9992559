#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/text_encoding.h"

// Files of "[section]" lines followed by "key=value" lines, read and written the way the
// Windows private-profile service does. Our own, because QSettings quotes, escapes and cases
// differently, and because a write here must never lose a line it did not mean to change.

// The value of key in section, or defaultValue when the file, section or key is missing or the
// file cannot be read. Names match without regard to ASCII letter case; the first matching
// section and key win. Blanks around the value and one pair of enclosing quotes are dropped,
// a value ends at its first NUL, and the result is cut to bufferSize - 1 characters.
std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize);

// Every key line of the first matching section, in file order, as a read gives their values.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section);

// The names of every section in the file, in file order, repeats included.
std::vector<std::string> ReadProfileSectionNames(const std::filesystem::path& file);

// The whole file, byte for byte; an empty text when it does not exist; nothing when it exists
// but cannot be read as a plain file of sensible size in an encoding the reader takes
// (text_encoding.h), and then why in words where why is given.
std::optional<std::string> LoadProfileFile(const std::filesystem::path& file,
                                           std::string* why = nullptr);

// The same file's text as the reader and writer work on it, with how it is stored.
std::optional<DecodedText> LoadProfileText(const std::filesystem::path& file,
                                           std::string* why = nullptr);

// Why the file cannot be read, in words ("permission denied"); empty when it can be read or
// does not exist, since a missing file is simply one with nothing set.
std::string WhyProfileUnreadable(const std::filesystem::path& file);

// Sets key in section to value, creating the file and the section as needed. Every other byte
// of the file stays as it was, a UTF-16LE file stays UTF-16LE, and the new file replaces the old
// one atomically (a link is followed and its target replaced). A writable file in a folder that
// refuses a temporary file beside it is rewritten in place instead, whole, flushed and synced.
// Returns false, with the file untouched, when it cannot be read or written (a file in an encoding
// the reader does not take is never written into), or when a name or the value would break the line
// layout or cannot be stored in the file's encoding.
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

// Replaces the whole file with content, atomically where the folder allows a temporary file,
// else in place (see WriteProfileString). False, with the file untouched, when it cannot.
bool ReplaceProfileFile(const std::filesystem::path& file, std::string_view content);

// Files larger than this are left alone: reads give the default, writes have no effect.
inline constexpr std::uintmax_t kMaxProfileFileBytes = 64u * 1024u * 1024u;
