#pragma once

#include <optional>
#include <string>

// How a settings file stores its text. The reader and writer work on 8-bit text; a file that
// Notepad saved as "Unicode" (UTF-16LE, starting with the mark FF FE) is decoded on the way in
// and encoded again on the way out, so that every line a write does not change comes back byte
// for byte and Windows' own functions go on reading the file.
enum class TextEncoding { EightBit, Utf16Le };

struct DecodedText {
    // The bytes as they are, or the UTF-16LE text without its mark, as UTF-8: its ASCII is
    // ASCII still, and nothing else can pass for a "[", "=" or line end.
    std::string text;
    TextEncoding encoding = TextEncoding::EightBit;
};

// Nothing, and why in words, for text the reader cannot take: UTF-16BE, UTF-32, or UTF-16LE cut
// off in the middle of a character or holding half a surrogate pair. Such a file is never to be
// written into: 8-bit lines in it would spoil it for Windows too.
std::optional<DecodedText> DecodeText(std::string bytes, std::string* why = nullptr);

// The bytes that store text in encoding; nothing where it cannot (bytes that are not UTF-8, for
// a UTF-16LE file).
std::optional<std::string> EncodeText(std::string text, TextEncoding encoding);
