#include "ui/win32/dialog_base.h"

namespace kq::win {

int scaled(int pixels) {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    int value = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return MulDiv(pixels, dpi, 96);
}

DialogBase::~DialogBase() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool DialogBase::create(HINSTANCE instance, int templateId, HWND owner) {
  return CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner, &DialogBase::procedure,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CALLBACK DialogBase::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogBase* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lParam);
    self->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
  } else {
    self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!self) return FALSE;
  try {
    return self->dispatch(message, wParam, lParam);
  } catch (...) {
    return FALSE;  // a handler's failure never leaves the window procedure
  }
}

INT_PTR DialogBase::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      onInit();
      return TRUE;
    case WM_SHOWWINDOW:
      if (wParam) onShow();
      return FALSE;
    case WM_CLOSE:
      hide();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        // Escape and the close box act as Cancel; a window's own Cancel button may do more.
        onCommand(IDCANCEL, HIWORD(wParam));
        hide();
        return TRUE;
      }
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    default:
      return handle(message, wParam, lParam, result) ? result : FALSE;
  }
}

// setClientSize gives the window its client size in pixels and moves and sizes
// the controls in proportion, so the template's layout fills it whatever the
// dialog units of the system font come to.
void DialogBase::setClientSize(int width, int height) {
  RECT before;
  GetClientRect(hwnd_, &before);
  RECT r{0, 0, scaled(width), scaled(height)};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), GetMenu(hwnd_) != nullptr,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT after;
  GetClientRect(hwnd_, &after);
  if (before.right <= 0 || before.bottom <= 0) return;
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT c;
    GetWindowRect(child, &c);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&c), 2);
    int left = MulDiv(c.left, after.right, before.right);
    int top = MulDiv(c.top, after.bottom, before.bottom);
    int right = MulDiv(c.right, after.right, before.right);
    int bottom = MulDiv(c.bottom, after.bottom, before.bottom);
    MoveWindow(child, left, top, right - left, bottom - top, FALSE);
  }
}

void DialogBase::centreOn(HWND other) {
  RECT area;
  if (other) {
    GetWindowRect(other, &area);
  } else {
    MONITORINFO info{sizeof info, {}, {}, 0};
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    area = info.rcWork;
  }
  RECT me;
  GetWindowRect(hwnd_, &me);
  int w = me.right - me.left, h = me.bottom - me.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kq::win
