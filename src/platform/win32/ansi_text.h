#pragma once
// Conversions between 8-bit text in the ANSI code page and the wide strings of
// the W functions.
#include <string>

namespace kq {

std::wstring ansiToWide(const std::string& text);
// wideToAnsi replaces what the code page cannot hold with "?", as Windows does.
std::string wideToAnsi(const std::wstring& text);

}  // namespace kq
