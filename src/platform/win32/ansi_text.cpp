#include "platform/win32/ansi_text.h"

#include <windows.h>

#include "platform/codepage.h"

namespace kq {

namespace {

// localPage is the Windows code page of local text: the system's ANSI page, or
// UTF-8 when full Unicode names are on.
UINT localPage() { return activeCodePage().number(); }

}  // namespace

std::wstring ansiToWide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(localPage(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(localPage(), 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string wideToAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(localPage(), 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(localPage(), 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::string> wideToAnsiExact(const std::wstring& text) {
  std::u32string chars;
  chars.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    bool pair = unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    chars.push_back(pair ? 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00) : unit);
  }
  return activeCodePage().fromUnicode(chars);
}

std::string wideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace kq
