#include "ui/win32/text.h"

#include "platform/win32/ansi_text.h"

namespace kq::win {

std::wstring toWide(const std::string& ansi) { return ansiToWide(ansi); }

std::string toAnsi(const std::wstring& wide) { return wideToAnsi(wide); }

std::wstring windowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(window, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return text;
}

void setText(HWND window, const std::string& ansi) { SetWindowTextW(window, toWide(ansi).c_str()); }

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "\r\n";
    out += lines[i];
  }
  return out;
}

}  // namespace kq::win
