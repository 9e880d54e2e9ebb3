#pragma once
// LogWindow (TForm3, "Client Log") shows the LogView's lines in a read-only
// memo in the "Terminal" font; it follows the view through its onChange.
#include "log/log.h"
#include "ui/win32/dialog_base.h"

namespace kq::win {

class LogWindow : public DialogBase {
 public:
  explicit LogWindow(LogView& view) : view_(view) {}
  ~LogWindow() override;
  // showPlaced shows the window at the top left of the primary monitor, its
  // client area as high as the monitor minus 100 pixels (ClientLog1Click).
  void showPlaced();
  // lineCount is the number of lines the memo holds.
  int lineCount() const;

 protected:
  void onInit() override;
  void onShow() override;
  bool handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void append(const std::string& line);
  LogView& view_;
  HFONT font_ = nullptr;
};

}  // namespace kq::win
