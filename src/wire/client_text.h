#pragma once
// How the server reads the paths a client sends: the client writes each byte of
// its code page as a \u00XX escape (a double-byte character as two of them),
// a client with Unicode names a larger character as itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/codepage.h"

namespace kq {

// clientTextToUtf8 turns a decoded client JSON string (UTF-8) into UTF-8 text:
// code points up to U+00FF stand for bytes of the client's code page, larger
// ones for themselves; an invalid sequence becomes "?".
std::string clientTextToUtf8(std::string_view decoded, const CodePage& page);

// collapseSlashes turns every run of "/" into one. A listing of the folder /docs
// names its entries //docs/report.pdf; both that form and /docs/report.pdf are read.
std::string collapseSlashes(std::string_view path);

// normalizeClientPath checks a UTF-8 server path from a client ("/a/b", a
// trailing "/" allowed) and returns it without trailing "/"; nullopt when it is
// empty, relative, or holds "..", "." or empty segments, backslashes or control
// bytes, or breaks a limit of path_limits.h.
std::optional<std::string> normalizeClientPath(std::string_view path);

// localStamp converts "%Y-%m-%d" and "%H.%M.%S" (local time) to seconds since
// 1970; 0 when either is empty or malformed.
std::int64_t localStamp(std::string_view date, std::string_view time);

}  // namespace kq
