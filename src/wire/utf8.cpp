#include "wire/utf8.h"

namespace kq {

namespace {

// sequenceLength is the length a lead byte announces; 0 for a byte that
// cannot start a sequence (a continuation byte, 0xC0, 0xC1, 0xF5 and above).
int sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// kSmallest is the smallest code point each length may carry (shorter is overlong).
constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};

}  // namespace

std::optional<char32_t> decodeUtf8(std::string_view s, std::size_t& pos) {
  auto lead = static_cast<unsigned char>(s[pos]);
  int length = sequenceLength(lead);
  if (length == 1) { ++pos; return lead; }
  if (length == 0 || s.size() - pos < static_cast<std::size_t>(length)) { ++pos; return std::nullopt; }
  char32_t cp = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) { ++pos; return std::nullopt; }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++pos; return std::nullopt; }
  pos += static_cast<std::size_t>(length);
  return cp;
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

bool isValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (!decodeUtf8(text, pos)) return false;
  }
  return true;
}

}  // namespace kq
