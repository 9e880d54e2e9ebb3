#include "wire/codepage.h"

namespace kq {

namespace {

// Code points of the bytes 0x80..0x9F; 0 marks a byte the code page leaves undefined.
constexpr char32_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

class Windows1252 : public CodePage {
 public:
  unsigned number() const override { return 1252; }
  std::size_t characterLength(std::string_view, std::size_t) const override { return 1; }
  std::optional<std::u32string> toUnicode(std::string_view text) const override {
    std::u32string out;
    out.reserve(text.size());
    for (char c : text) out.push_back(cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
  }
  std::optional<std::string> fromUnicode(std::u32string_view text) const override {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
      auto byte = unicodeToCp1252(cp);
      if (!byte) return std::nullopt;
      out.push_back(static_cast<char>(*byte));
    }
    return out;
  }
};

void appendHex4(std::string& out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out += "$u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

class UnicodeNames : public CodePage {
 public:
  explicit UnicodeNames(std::unique_ptr<CodePage> system) : system_(std::move(system)) {}
  unsigned number() const override { return 65001; }

  std::size_t characterLength(std::string_view text, std::size_t pos) const override {
    std::size_t next = pos;
    return decodeUtf8(text, next) ? next - pos : 1;
  }

  std::optional<std::u32string> toUnicode(std::string_view text) const override {
    std::u32string out;
    for (std::size_t pos = 0; pos < text.size();) {
      auto cp = decodeUtf8(text, pos);
      if (!cp) return std::nullopt;
      out.push_back(*cp);
    }
    return out;
  }

  std::optional<std::string> fromUnicode(std::u32string_view text) const override {
    std::string out;
    for (char32_t cp : text) {
      if (cp >= 0xD800 && cp < 0xE000) return std::nullopt;  // a lone surrogate
      if (cp >= 0x80 && cp <= 0xFF && !system_->fromUnicode(std::u32string(1, cp))) return std::nullopt;
      appendUtf8(out, cp);
    }
    return out;
  }

  void appendWire(std::string& out, std::string_view character) const override {
    std::size_t pos = 0;
    auto cp = decodeUtf8(character, pos);
    auto bytes = cp ? system_->fromUnicode(std::u32string(1, *cp)) : std::nullopt;
    if (!cp || bytes) {
      CodePage::appendWire(out, bytes ? *bytes : character);
    } else if (*cp >= 0x10000) {
      appendHex4(out, 0xD800 + ((*cp - 0x10000) >> 10));
      appendHex4(out, 0xDC00 + ((*cp - 0x10000) & 0x3FF));
    } else {
      appendHex4(out, *cp);
    }
  }

 private:
  std::unique_ptr<CodePage> system_;
};

std::unique_ptr<CodePage>& activeSlot() {
  static std::unique_ptr<CodePage> page;
  return page;
}

}  // namespace

const CodePage& windows1252() {
  static const Windows1252 page;
  return page;
}

void CodePage::appendWire(std::string& out, std::string_view character) const {
  for (char c : character) appendHex4(out, static_cast<unsigned char>(c));
}

std::unique_ptr<CodePage> makeUnicodeNames(std::unique_ptr<CodePage> system) {
  return std::make_unique<UnicodeNames>(system ? std::move(system) : makeWindows1252());
}

std::unique_ptr<CodePage> makeWindows1252() { return std::make_unique<Windows1252>(); }

const CodePage& activeCodePage() {
  const auto& slot = activeSlot();
  return slot ? *slot : windows1252();
}

void setActiveCodePage(std::unique_ptr<CodePage> page) { activeSlot() = std::move(page); }

bool isMultiByteAt(const CodePage& page, std::string_view text, std::size_t pos) {
  return page.characterLength(text, pos) > 1;
}

std::size_t findCharacters(const CodePage& page, std::string_view text, std::string_view needle,
                           std::size_t from) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (pos >= from && text.compare(pos, needle.size(), needle) == 0) return pos;
    pos += page.characterLength(text, pos);
  }
  return needle.empty() && from <= text.size() ? text.size() : std::string_view::npos;
}

std::string replaceCharacter(const CodePage& page, std::string_view text, char from, char to) {
  std::string out(text);
  for (std::size_t pos = 0; pos < out.size();) {
    std::size_t n = page.characterLength(out, pos);
    if (n == 1 && out[pos] == from) out[pos] = to;
    pos += n;
  }
  return out;
}

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

std::string toUtf8(const CodePage& page, std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t n = page.characterLength(text, pos);
    auto chars = page.toUnicode(text.substr(pos, n));
    if (chars) {
      for (char32_t cp : *chars) appendUtf8(out, cp);
    } else {
      out.push_back(replacement);
    }
    pos += n;
  }
  return out;
}

std::optional<std::string> fromUtf8(const CodePage& page, std::string_view utf8) {
  std::u32string chars;
  chars.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    auto cp = decodeUtf8(utf8, pos);
    if (!cp) return std::nullopt;
    chars.push_back(*cp);
  }
  return page.fromUnicode(chars);
}

std::string fromUtf8Lossy(const CodePage& page, std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    auto cp = decodeUtf8(utf8, pos);
    auto bytes = cp ? page.fromUnicode(std::u32string(1, *cp)) : std::nullopt;
    if (bytes) out += *bytes; else out.push_back(replacement);
  }
  return out;
}

std::string cp1252ToUtf8(std::string_view text) { return toUtf8(windows1252(), text); }

std::string utf8ToCp1252(std::string_view text, char replacement) {
  return fromUtf8Lossy(windows1252(), text, replacement);
}

std::string localToUtf8(std::string_view text) { return toUtf8(activeCodePage(), text); }

std::string utf8ToLocal(std::string_view utf8) { return fromUtf8Lossy(activeCodePage(), utf8); }

}  // namespace kq
