#include "config/config_text.h"

namespace kq {

namespace {

unsigned char byteAt(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// utf8ToAscii keeps ASCII bytes; each multi-byte sequence, or stray byte, becomes '?'.
std::string utf8ToAscii(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char lead = byteAt(s, i++);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      continue;
    }
    out.push_back('?');
    int extra = (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 0;
    for (; extra > 0 && i < s.size() && (byteAt(s, i) & 0xC0) == 0x80; --extra) ++i;
  }
  return out;
}

// utf16ToAscii reads code units of the given byte order; a surrogate pair is one character.
std::string utf16ToAscii(std::string_view s, bool bigEndian) {
  std::string out;
  auto unit = [&](std::size_t i) {
    unsigned a = byteAt(s, i), b = byteAt(s, i + 1);
    return bigEndian ? (a << 8) | b : (b << 8) | a;
  };
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
    unsigned u = unit(i);
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    out.push_back('?');
    bool high = u >= 0xD800 && u < 0xDC00;
    if (high && i + 3 < s.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) i += 2;
  }
  if (s.size() % 2 != 0) out.push_back('?');
  return out;
}

}  // namespace

std::string configTextToAscii(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return utf8ToAscii(bytes.substr(3));
  if (bytes.substr(0, 2) == "\xFF\xFE") return utf16ToAscii(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return utf16ToAscii(bytes.substr(2), true);
  // ANSI: every byte of 0x80 or above is a character outside ASCII.
  std::string out(bytes);
  for (char& c : out)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return out;
}

}  // namespace kq
