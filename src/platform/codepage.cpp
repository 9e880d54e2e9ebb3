#include "platform/codepage.h"

namespace kq {

namespace {

// Code points of the bytes 0x80..0x9F; 0 marks a byte the code page leaves undefined.
constexpr char32_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// decodeUtf8 reads one code point at pos; returns nullopt for an invalid sequence.
std::optional<char32_t> decodeUtf8(std::string_view s, std::size_t& pos) {
  auto lead = static_cast<unsigned char>(s[pos]);
  int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
  if (extra < 0) { ++pos; return std::nullopt; }
  if (extra == 0) { ++pos; return lead; }
  char32_t cp = lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if (pos + i >= s.size()) { ++pos; return std::nullopt; }
    auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) { ++pos; return std::nullopt; }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += static_cast<std::size_t>(extra) + 1;
  return cp;
}

}  // namespace

char32_t cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0 && kHigh[byte - 0x80] != 0) return kHigh[byte - 0x80];
  return byte;
}

std::optional<unsigned char> unicodeToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp && cp != 0) return static_cast<unsigned char>(0x80 + i);
  }
  // Bytes the code page leaves undefined round-trip as their own code point.
  if (cp >= 0x80 && cp < 0xA0 && kHigh[cp - 0x80] == 0) return static_cast<unsigned char>(cp);
  return std::nullopt;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendUtf8(out, cp1252ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string utf8ToCp1252(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto cp = decodeUtf8(text, pos);
    auto byte = cp ? unicodeToCp1252(*cp) : std::nullopt;
    out.push_back(byte ? static_cast<char>(*byte) : replacement);
  }
  return out;
}

}  // namespace kq
