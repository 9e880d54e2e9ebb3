#include "platform/display_name.h"

#include <cstdio>

#include "platform/codepage.h"

namespace kq {

namespace {

void appendUnit(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", unit & 0xFFFFu);
  out += buffer;
}

}  // namespace

std::string displayName(std::string_view utf8) {
  std::string out;
  for (std::size_t pos = 0; pos < utf8.size();) {
    std::size_t start = pos;
    auto cp = decodeUtf8(utf8, pos);
    if (!cp) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(utf8[start]));
      out += buffer;
    } else if (*cp == '\\') {
      appendUnit(out, *cp);  // a backslash in a name would read as a separator
    } else if (*cp < 0x80) {
      out.push_back(static_cast<char>(*cp));
    } else if (*cp >= 0x10000) {
      appendUnit(out, 0xD800 + ((*cp - 0x10000) >> 10));
      appendUnit(out, 0xDC00 + ((*cp - 0x10000) & 0x3FF));
    } else {
      appendUnit(out, *cp);
    }
  }
  return out;
}

}  // namespace kq
