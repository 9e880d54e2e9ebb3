#include "ui/headless/headless_views.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "wire/utf8.h"

#include "platform/posix/native_text.h"

namespace kq {

namespace {

// isWide: the East Asian wide and full-width ranges, which take two columns.
bool isWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

int terminalColumns(std::FILE* out) {
  winsize size{};
  if (out == nullptr || ::ioctl(::fileno(out), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

std::string fitColumns(const std::string& text, int columns) {
  const std::string_view ellipsis = "\xE2\x80\xA6";
  std::size_t cut = 0;  // the end of the characters that fit with the ellipsis after them
  int used = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t start = pos;
    auto c = decodeUtf8(text, pos);
    if (!c) pos = start + 1;  // a stray byte is shown as one character
    int width = c && isWide(*c) ? 2 : 1;
    if (used + width > columns) return text.substr(0, cut) + std::string(ellipsis);
    used += width;
    if (used <= columns - 1) cut = pos;
  }
  return text;
}

TerminalStatusView::TerminalStatusView(std::FILE* out, std::function<int()> columns)
    : out_(out), columns_(std::move(columns)), messagesHere_(::isatty(STDERR_FILENO) == 1) {
  if (!columns_) columns_ = [out] { return terminalColumns(out); };
}

void TerminalStatusView::setPanel(int index, const std::string& text) {
  if (onPanel) onPanel(index, text);
  if (index < 0 || index >= 7 || panels_[index] == text) return;
  panels_[index] = text;
  redraw();
}

void TerminalStatusView::setConnectCaption(const std::string& caption) {
  if (onCaption) onCaption(caption);
  if (caption_ == caption) return;
  caption_ = caption;
  redraw();
}

void TerminalStatusView::setProgress(const std::string& text) {
  if (progress_ == text) return;
  progress_ = text;
  redraw();
}

std::string TerminalStatusView::line() const {
  std::string text;
  auto add = [&text](const std::string& part) {
    if (part.empty()) return;
    if (!text.empty()) text += " | ";
    text += part;
  };
  for (int i = 0; i < 6; ++i) {
    add(panels_[i]);
    if (i == 1) add(progress_);
  }
  return text;
}

void TerminalStatusView::redraw() {
  if (!out_) return;
  // The last column stays free: a line that fills it would wrap on some terminals.
  std::string text = fitColumns(nativeText(line()), columns_() - 1);
  if (drawn_ && text == shown_) return;
  shown_ = text;
  // Carriage return, the line, then erase what an older, longer line left.
  std::fprintf(out_, "\r%s\x1b[K", text.c_str());
  std::fflush(out_);
  drawn_ = true;
}

void TerminalStatusView::finish() {
  if (!out_ || !drawn_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_ = false;
}

void TerminalStatusView::messageComing() {
  if (!out_ || !drawn_ || !messagesHere_) return;
  std::fputs("\r\x1b[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

void StderrDialogs::information(const std::string& text) {
  status_.messageComing();
  std::fprintf(stderr, "Information: %s\n", nativeText(text).c_str());
}

void StderrErrorReporter::reportError(const std::string& text) {
  if (text.rfind("Socket Error # ", 0) == 0) return;
  status_.messageComing();
  std::fprintf(stderr, "Korvalinq Drive: %s\n", nativeText(text).c_str());
}

}  // namespace kq
