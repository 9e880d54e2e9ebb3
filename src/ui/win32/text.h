#pragma once
// Conversions between local path text (8-bit, ANSI code page) and the wide
// strings of the window functions, and helpers to read and write window text.
#include <windows.h>

#include <string>
#include <vector>

namespace kq::win {

std::wstring toWide(const std::string& ansi);
std::string toAnsi(const std::wstring& wide);
std::wstring windowText(HWND window);
void setText(HWND window, const std::string& ansi);
// splitLines cuts text at CR, LF or CR LF; a final line break adds no empty line.
std::vector<std::string> splitLines(const std::string& text);
// joinLines joins lines with CR LF between them (the text of a multi-line edit).
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace kq::win
