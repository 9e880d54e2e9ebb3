#include "platform/windows_name.h"

#include <cctype>
#include <cstdio>

#include "platform/codepage.h"

namespace kq {

namespace {

bool isReservedDevice(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == reserved) return true;
  }
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

void appendUnit(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", unit & 0xFFFFu);
  out += buffer;
}

}  // namespace

std::string windowsNameRefusal(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return "a control character";
    if (c == '\\') return "a backslash, which Windows reads as a folder separator";
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return std::string("the character ") + c + " not allowed in Windows names";
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' '))
    return "a trailing dot or blank, which Windows removes";
  if (isReservedDevice(name)) return "a reserved device name";
  return {};
}

std::string displayName(std::string_view utf8) {
  std::string out;
  for (std::size_t pos = 0; pos < utf8.size();) {
    std::size_t start = pos;
    auto cp = decodeUtf8(utf8, pos);
    if (!cp) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(utf8[start]));
      out += buffer;
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
