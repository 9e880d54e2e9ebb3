#pragma once
// readUnicodeEscape is the one reader of "\uXXXX" escapes in text the client
// shows: the JSON values it received and the names of its log lines (written
// by displayName), where every character outside ASCII stands as the escapes
// of its UTF-16 code units.
#include <cstddef>
#include <optional>
#include <string_view>

namespace kq {

struct UnicodeEscape {
  char32_t codePoint = 0;  // a surrogate pair is one code point; a lone surrogate stays as it is
  std::size_t length = 0;  // 6, or 12 for a pair
};

// readUnicodeEscape reads the escape at text[pos]: a backslash, "u" and four
// hex digits of either case, followed by a second such escape when the first
// is a high surrogate and the second a low one. nullopt when none starts at pos.
std::optional<UnicodeEscape> readUnicodeEscape(std::string_view text, std::size_t pos);

}  // namespace kq
