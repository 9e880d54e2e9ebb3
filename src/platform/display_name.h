#pragma once
// displayName: a name in a form every log line can hold.
#include <string>
#include <string_view>

namespace kq {

// displayName writes a UTF-8 name for a log line: ASCII as is, every other
// character as \uXXXX of its UTF-16 code units, invalid bytes as \xNN.
std::string displayName(std::string_view utf8);

}  // namespace kq
