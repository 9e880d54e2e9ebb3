#pragma once
// DialogBase is the thin base of the modeless windows built from dialog
// templates: it stores `this` in GWLP_USERDATA at WM_INITDIALOG and forwards
// every message to handle(). Closing only hides; the windows live until the
// program ends. No exception leaves the dialog procedure.
#include <windows.h>

namespace kq::win {

class DialogBase {
 public:
  virtual ~DialogBase();
  // create builds the (hidden) window from the template.
  bool create(HINSTANCE instance, int templateId, HWND owner);
  HWND hwnd() const { return hwnd_; }
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  void show() { ShowWindow(hwnd_, SW_SHOW); }
  void hide() { ShowWindow(hwnd_, SW_HIDE); }
  bool visible() const { return IsWindowVisible(hwnd_) != FALSE; }

 protected:
  virtual void onInit() {}
  // onShow runs each time the window becomes visible.
  virtual void onShow() {}
  virtual void onCommand(int /*id*/, int /*code*/) {}
  // handle gets every other message; return true when it was handled.
  virtual bool handle(UINT, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }

  // setClientSize gives the window a client area of width x height pixels at 96 dpi.
  void setClientSize(int width, int height);
  void centreOn(HWND other);  // other = nullptr centres on the work area of the primary monitor

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
};

// scaled converts 96-dpi pixels to the screen's pixels.
int scaled(int pixels);

}  // namespace kq::win
