#include "log_text.h"

#include <cstdio>

namespace kqs {

namespace {

// sequenceLength is the length of the valid UTF-8 sequence at pos, 0 when invalid.
std::size_t sequenceLength(std::string_view s, std::size_t pos) {
  auto lead = static_cast<unsigned char>(s[pos]);
  std::size_t n = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || pos + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

bool isControl(std::string_view s, std::size_t pos, std::size_t length) {
  auto lead = static_cast<unsigned char>(s[pos]);
  if (length == 1) return lead < 0x20 || lead == 0x7F;
  // U+0080..U+009F arrive as C2 80..C2 9F.
  return length == 2 && lead == 0xC2 && static_cast<unsigned char>(s[pos + 1]) < 0xA0;
}

void appendHex(std::string& out, unsigned char byte) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", byte);
  out += buf;
}

}  // namespace

std::string escapeLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t n = sequenceLength(text, pos);
    if (n == 0 || isControl(text, pos, n)) {
      for (std::size_t i = 0; i < std::max<std::size_t>(n, 1); ++i) appendHex(out, static_cast<unsigned char>(text[pos + i]));
      pos += std::max<std::size_t>(n, 1);
      continue;
    }
    out.append(text, pos, n);
    pos += n;
  }
  return out;
}

std::string logValue(std::string_view value) {
  std::size_t pos = 0;
  std::size_t characters = 0;
  while (pos < value.size() && characters < kMaxLogValue) {
    pos += std::max<std::size_t>(sequenceLength(value, pos), 1);
    ++characters;
  }
  if (pos >= value.size()) return escapeLogText(value);
  return escapeLogText(value.substr(0, pos)) + "...";
}

}  // namespace kqs
