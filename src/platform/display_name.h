#pragma once
// displayName: a name in a form every log line can hold.
#include <string>
#include <string_view>

namespace kq {

// displayName writes a UTF-8 name for a log line: ASCII as is, every other
// character as \uXXXX of its UTF-16 code units, invalid bytes as \xNN. A
// backslash (a Linux name may hold one) is written as \u005c, so that it does
// not read as the separator of local path text.
std::string displayName(std::string_view utf8);

}  // namespace kq
