#include "ui/win32/small_windows.h"

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {

AboutWindow::~AboutWindow() {
  if (titleFont_) DeleteObject(titleFont_);
}

void AboutWindow::onInit() {
  setClientSize(310, 310);
  titleFont_ = CreateFontW(-scaled(26), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  SendMessageW(item(IDC_PRODUCT), WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), FALSE);
  setText(item(IDC_VERSION), std::string("Version ") + kProductVersion);
}

void AboutWindow::onCommand(int id, int) {
  if (id == IDOK) hide();
}

bool AboutWindow::handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message != WM_CTLCOLORSTATIC || reinterpret_cast<HWND>(lParam) != item(IDC_PRODUCT))
    return false;
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetTextColor(dc, RGB(128, 0, 128));
  SetBkMode(dc, TRANSPARENT);
  result = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
  return true;
}

void NewDirWindow::onCommand(int id, int) {
  if (id == IDOK) hide();
}

}  // namespace kq::win
