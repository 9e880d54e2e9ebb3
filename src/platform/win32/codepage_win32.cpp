// Code pages on Windows: the system's own tables. Decoding refuses invalid
// bytes (MB_ERR_INVALID_CHARS); encoding refuses best-fit look-alikes
// (WC_NO_BEST_FIT_CHARS) and every character the code page lacks.
#include <windows.h>

#include "platform/codepage.h"

namespace kq {

namespace {

std::wstring toUtf16(std::u32string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char32_t cp : text) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

std::u32string fromUtf16(std::wstring_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

class SystemCodePage : public CodePage {
 public:
  explicit SystemCodePage(unsigned number) : number_(number) {}
  unsigned number() const override { return number_; }

  std::size_t characterLength(std::string_view text, std::size_t pos) const override {
    auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) return 1;
    std::size_t want = 2;
    if (number_ == CP_UTF8) {
      want = (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 1;
    } else if (!IsDBCSLeadByteEx(number_, byte)) {
      want = 1;
    }
    return pos + want <= text.size() ? want : 1;
  }

  std::optional<std::u32string> toUnicode(std::string_view text) const override {
    if (text.empty()) return std::u32string();
    int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
    return fromUtf16(wide);
  }

  std::optional<std::string> fromUnicode(std::u32string_view text) const override {
    if (text.empty()) return std::string();
    std::wstring wide = toUtf16(text);
    int size = static_cast<int>(wide.size());
    // UTF-8 takes neither flag nor default-character report.
    bool utf8 = number_ == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(number_, flags, wide.data(), size, nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(number_, flags, wide.data(), size, out.data(), n, nullptr, used);
    if (usedDefault) return std::nullopt;
    // A character must come back as itself: nothing may stand for a look-alike.
    auto back = toUnicode(out);
    if (!back || *back != text) return std::nullopt;
    return out;
  }

 private:
  unsigned number_;
};

}  // namespace

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  if (!IsValidCodePage(number)) return nullptr;
  return std::make_unique<SystemCodePage>(number);
}

}  // namespace kq
