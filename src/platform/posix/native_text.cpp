#include "platform/posix/native_text.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"

namespace kq {

namespace {

bool refusedInNames(unsigned char c) {
  if (c < 0x20) return true;
  switch (c) {
    case ':': case '*': case '?': case '"': case '<': case '>': case '|': return true;
    default: return false;
  }
}

// pathStartsAt: "Z:\" or "Z:/" at pos, not inside a word.
bool pathStartsAt(std::string_view text, std::size_t pos) {
  if (pos + 2 >= text.size() || (text[pos] != 'Z' && text[pos] != 'z') || text[pos + 1] != ':') return false;
  if (text[pos + 2] != '\\' && text[pos + 2] != '/') return false;
  return pos == 0 || !std::isalnum(static_cast<unsigned char>(text[pos - 1]));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// escapeAt is the code unit of "\uXXXX" at pos, -1 when there is none.
long escapeAt(std::string_view text, std::size_t pos) {
  if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
  long unit = 0;
  for (std::size_t i = pos + 2; i < pos + 6; ++i) {
    int digit = hexDigit(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// PathWriter appends one path to out, from its first separator to its end.
struct PathWriter {
  explicit PathWriter(std::string& out) : out(out) {}
  std::string& out;
  std::string name;  // local bytes of the name being read
  bool afterSeparator = false;  // runs of separators count as one

  void flush() {
    if (!name.empty()) afterSeparator = false;
    out += localToUtf8(name);
    name.clear();
  }
  void separator() {
    flush();
    if (!afterSeparator) out.push_back('/');
    afterSeparator = true;
  }
  // escape appends the character of an escape at text[pos] and returns its length, 0 for none.
  std::size_t escape(std::string_view text, std::size_t pos) {
    long unit = escapeAt(text, pos);
    if (unit < 0x80) return 0;
    flush();
    afterSeparator = false;
    long low = unit >= 0xD800 && unit < 0xDC00 ? escapeAt(text, pos + 6) : -1;
    if (low >= 0xDC00 && low < 0xE000) {
      appendUtf8(out, static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
      return 12;
    }
    appendUtf8(out, static_cast<char32_t>(unit));
    return 6;
  }
  // write reads the path at text[pos] (just after "Z:") and returns where it ends.
  std::size_t write(std::string_view text, std::size_t pos) {
    const CodePage& page = activeCodePage();
    while (pos < text.size()) {
      std::size_t length = std::max<std::size_t>(1, page.characterLength(text, pos));
      auto c = static_cast<unsigned char>(text[pos]);
      if (length == 1 && (refusedInNames(c) || pathStartsAt(text, pos))) break;
      if (length == 1 && (c == '\\' || c == '/')) {
        if (std::size_t used = escape(text, pos)) {
          pos += used;
          continue;
        }
        separator();
      } else {
        name.append(text.substr(pos, length));
      }
      pos += length;
    }
    flush();
    return pos;
  }
};

}  // namespace

std::string nativeText(std::string_view text) {
  std::string out, plain;
  for (std::size_t pos = 0; pos < text.size();) {
    if (!pathStartsAt(text, pos)) {
      std::size_t length = std::max<std::size_t>(1, activeCodePage().characterLength(text, pos));
      plain.append(text.substr(pos, length));
      pos += length;
      continue;
    }
    out += localToUtf8(plain);
    plain.clear();
    pos = PathWriter(out).write(text, pos + 2);
  }
  return out + localToUtf8(plain);
}

}  // namespace kq
