#include "wire/unicode_escape.h"

namespace kq {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// codeUnit is the value of one "\uXXXX" at pos, -1 when there is none.
long codeUnit(std::string_view text, std::size_t pos) {
  if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
  long unit = 0;
  for (std::size_t i = pos + 2; i < pos + 6; ++i) {
    int digit = hexDigit(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

}  // namespace

std::optional<UnicodeEscape> readUnicodeEscape(std::string_view text, std::size_t pos) {
  long unit = codeUnit(text, pos);
  if (unit < 0) return std::nullopt;
  long low = unit >= 0xD800 && unit < 0xDC00 ? codeUnit(text, pos + 6) : -1;
  if (low >= 0xDC00 && low < 0xE000)
    return UnicodeEscape{static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)), 12};
  return UnicodeEscape{static_cast<char32_t>(unit), 6};
}

}  // namespace kq
