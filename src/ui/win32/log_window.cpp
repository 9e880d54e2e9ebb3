#include "ui/win32/log_window.h"

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {

LogWindow::~LogWindow() {
  view_.onChange = nullptr;
  if (font_) DeleteObject(font_);
}

void LogWindow::onInit() {
  setClientSize(1000, 600);
  centreOn(nullptr);
  font_ = CreateFontW(-scaled(15), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, OEM_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      FIXED_PITCH | FF_MODERN, L"Terminal");
  HWND memo = item(IDC_MEMO1);
  SendMessageW(memo, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  MoveWindow(memo, 0, 0, client.right, client.bottom, FALSE);
  for (auto& line : view_.lines()) append(line);
  view_.onChange = [this](const std::string* added, bool cleared) {
    if (cleared) SetWindowTextW(item(IDC_MEMO1), L"");
    if (added) append(*added);
  };
}

void LogWindow::append(const std::string& line) {
  HWND memo = item(IDC_MEMO1);
  LRESULT end = GetWindowTextLengthW(memo);
  SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
  std::wstring text = toWide(line) + L"\r\n";
  SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

int LogWindow::lineCount() const {
  return static_cast<int>(SendMessageW(item(IDC_MEMO1), EM_GETLINECOUNT, 0, 0));
}

void LogWindow::onShow() {
  // The newest lines come into view.
  SendMessageW(item(IDC_MEMO1), EM_LINESCROLL, 0, static_cast<LPARAM>(view_.lines().size()));
}

void LogWindow::showPlaced() {
  show();
  MONITORINFO info{sizeof info, {}, {}, 0};
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
  int height = (info.rcMonitor.bottom - info.rcMonitor.top) - 100;
  RECT window, client;
  GetWindowRect(hwnd(), &window);
  GetClientRect(hwnd(), &client);
  int frame = (window.bottom - window.top) - client.bottom;
  SetWindowPos(hwnd(), nullptr, 0, 0, window.right - window.left, height + frame,
               SWP_NOZORDER);
}

bool LogWindow::handle(UINT message, WPARAM, LPARAM lParam, INT_PTR& result) {
  if (message != WM_SIZE) return false;
  MoveWindow(item(IDC_MEMO1), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
  result = 0;
  return true;
}

}  // namespace kq::win
