#pragma once
// writeJsonString is the one JSON string writer of the client link: kqsyncd
// writes every string it sends with it, and the client writes each received
// value back with it, so a handler sees a value exactly as it came on the wire.
#include <string>
#include <string_view>

namespace kq {

// writeJsonString writes UTF-8 text as a quoted JSON string of 7-bit ASCII:
// "/" as "\/", quote and backslash escaped, control characters, DEL and every
// character above it as \u escapes of lower-case hex (surrogate pairs beyond
// U+FFFF). A byte that is no valid UTF-8 is written as "?".
std::string writeJsonString(std::string_view utf8);

}  // namespace kq
