#pragma once
// Conversions between 8-bit text in the ANSI code page and the wide strings of
// the W functions.
#include <optional>
#include <string>

namespace kq {

std::wstring ansiToWide(const std::string& text);
// wideToAnsi replaces what the code page cannot hold with "?", as Windows does.
std::string wideToAnsi(const std::wstring& text);
// wideToAnsiExact converts without any replacement or best-fit look-alike;
// nullopt when a character is outside the code page.
std::optional<std::string> wideToAnsiExact(const std::wstring& text);
// wideToUtf8 converts for log lines and display.
std::string wideToUtf8(const std::wstring& text);

}  // namespace kq
