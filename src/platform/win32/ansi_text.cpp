#include "platform/win32/ansi_text.h"

#include <windows.h>

namespace kq {

std::wstring ansiToWide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string wideToAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::string> wideToAnsiExact(const std::wstring& text) {
  if (text.empty()) return std::string();
  BOOL usedDefault = FALSE;
  int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), n, nullptr, &usedDefault);
  if (usedDefault || ansiToWide(out) != text) return std::nullopt;
  return out;
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
