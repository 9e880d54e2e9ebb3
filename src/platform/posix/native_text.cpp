#include "platform/posix/native_text.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"
#include "wire/unicode_escape.h"
#include "wire/utf8.h"

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
    auto escape = readUnicodeEscape(text, pos);
    if (!escape || (escape->codePoint < 0x80 && escape->codePoint != '\\')) return 0;
    flush();
    afterSeparator = false;
    appendUtf8(out, escape->codePoint);
    return escape->length;
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
