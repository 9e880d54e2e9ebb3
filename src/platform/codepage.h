#pragma once
// The 8-bit code page of local path text is Windows-1252. These conversions
// serve the POSIX file names (stored as UTF-8), JSON \u escapes and the watcher.
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// cp1252ToUnicode maps one byte to its code point (undefined bytes map to themselves).
char32_t cp1252ToUnicode(unsigned char byte);
// unicodeToCp1252 maps a code point to its byte, nullopt when the code page lacks it.
std::optional<unsigned char> unicodeToCp1252(char32_t codePoint);
// cp1252ToUtf8 converts 8-bit text to UTF-8.
std::string cp1252ToUtf8(std::string_view text);
// utf8ToCp1252 converts UTF-8 to 8-bit text; characters the code page cannot hold
// (and invalid UTF-8 bytes) become replacement ('?'), as the Windows conversion does.
std::string utf8ToCp1252(std::string_view text, char replacement = '?');
// appendUtf8 appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace kq
