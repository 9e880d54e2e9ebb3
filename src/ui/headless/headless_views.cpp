#include "ui/headless/headless_views.h"

#include "platform/posix/native_text.h"

namespace kq {

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
  if (!text.empty()) text += " ";
  return text + "[" + caption_ + "]";
}

void TerminalStatusView::redraw() {
  if (!out_) return;
  // Carriage return, the line, then erase what an older, longer line left.
  std::fprintf(out_, "\r%s\x1b[K", nativeText(line()).c_str());
  std::fflush(out_);
  drawn_ = true;
}

void TerminalStatusView::finish() {
  if (!out_ || !drawn_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_ = false;
}

void StderrDialogs::information(const std::string& text) {
  status_.finish();
  std::fprintf(stderr, "Information: %s\n", nativeText(text).c_str());
}

void StderrErrorReporter::reportError(const std::string& text) {
  if (text.rfind("Socket Error # ", 0) == 0) return;
  status_.finish();
  std::fprintf(stderr, "Korvalinq Drive: %s\n", nativeText(text).c_str());
}

}  // namespace kq
