#include "wire/json_string.h"

#include "wire/utf8.h"

namespace kq {

namespace {

void appendEscape(std::string& out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

void appendCharacter(std::string& out, char32_t c) {
  if (c == '/') {
    out += "\\/";
  } else if (c == '"') {
    out += "\\\"";
  } else if (c == '\\') {
    out += "\\\\";
  } else if (c < 0x20 || (c >= 0x7F && c <= 0xFFFF)) {
    appendEscape(out, static_cast<unsigned>(c));
  } else if (c > 0xFFFF) {
    char32_t v = c - 0x10000;
    appendEscape(out, 0xD800 + static_cast<unsigned>(v >> 10));
    appendEscape(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
  } else {
    out.push_back(static_cast<char>(c));
  }
}

}  // namespace

std::string writeJsonString(std::string_view utf8) {
  std::string out = "\"";
  out.reserve(utf8.size() + 2);
  for (std::size_t pos = 0; pos < utf8.size();) {
    auto cp = decodeUtf8(utf8, pos);
    appendCharacter(out, cp ? *cp : U'?');
  }
  return out + "\"";
}

}  // namespace kq
