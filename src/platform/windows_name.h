#pragma once
// windowsNameRefusal: why one file name (one path segment, UTF-8 or 8-bit text)
// cannot live on Windows; empty when it can. Reserved device names (CON, NUL,
// COM1, ...), a trailing dot or blank, a control character, one of : * ? " < > |
// and a backslash (which Windows reads as a separator) are refused.
#include <string>
#include <string_view>

namespace kq {

std::string windowsNameRefusal(std::string_view name);

// displayName writes a UTF-8 name for a log line: ASCII as is, every other
// character as \uXXXX of its UTF-16 code units, invalid bytes as \xNN.
std::string displayName(std::string_view utf8);

}  // namespace kq
