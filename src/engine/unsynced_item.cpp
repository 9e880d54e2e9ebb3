#include "engine/unsynced_item.h"

#include <cctype>
#include <cstdlib>

#include "platform/codepage.h"
#include "wire/utf8.h"

namespace kq {

namespace {

// unitAt reads the UTF-16 unit of a "\uXXXX" at pos; -1 when there is none.
long unitAt(const std::string& text, std::size_t pos) {
  if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
  for (std::size_t i = pos + 2; i < pos + 6; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return -1;
  return std::strtol(text.substr(pos + 2, 4).c_str(), nullptr, 16);
}

}  // namespace

std::string unsyncedItemName(const std::string& localPath, const std::string& syncFolder) {
  std::string text = localPath;
  if (text.rfind(syncFolder + "\\", 0) == 0) text = text.substr(syncFolder.size() + 1);
  std::string out, ansi;
  auto flush = [&] {
    out += cp1252ToUtf8(ansi);
    ansi.clear();
  };
  for (std::size_t pos = 0; pos < text.size();) {
    long unit = unitAt(text, pos);
    if (unit < 0) {
      if (text[pos] == '\\') {
        flush();
        out += '/';
      } else {
        ansi += text[pos];
      }
      ++pos;
      continue;
    }
    flush();
    pos += 6;
    char32_t point = static_cast<char32_t>(unit);
    long low = unitAt(text, pos);
    if (unit >= 0xD800 && unit < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
      point = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
      pos += 6;
    }
    appendUtf8(out, point);
  }
  flush();
  return out;
}

}  // namespace kq
