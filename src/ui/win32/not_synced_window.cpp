#include "ui/win32/not_synced_window.h"

#include "ui/win32/resource.h"

namespace kq::win {

std::wstring utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::wstring notSyncedLine(const FailedItem& item) {
  return utf8ToWide(item.path) + L"\t" + utf8ToWide(item.reason);
}

std::wstring notSyncedCount(std::size_t count) {
  if (count == 0) return L"Every name in the sync folder and on the server can be synchronised.";
  return std::to_wstring(count) + (count == 1 ? L" name is" : L" names are") +
         L" not synchronised. Rename or move them to synchronise them; the list is kept until the client ends.";
}

void NotSyncedWindow::setItems(const std::vector<FailedItem>& items) {
  if (items == items_) return;
  items_ = items;
  if (visible()) fill();
}

void NotSyncedWindow::showList() {
  fill();
  show();
  SetForegroundWindow(hwnd());
}

void NotSyncedWindow::onInit() {
  const int tabStop = 160;  // dialog units: the reasons stand in a column
  SendDlgItemMessageW(hwnd(), IDC_NOTSYNCED_LIST, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tabStop));
  SendDlgItemMessageW(hwnd(), IDC_NOTSYNCED_LIST, LB_SETHORIZONTALEXTENT, scaled(1200), 0);
}

void NotSyncedWindow::fill() {
  HWND list = item(IDC_NOTSYNCED_LIST);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const auto& failed : items_) {
    std::wstring line = notSyncedLine(failed);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  SetDlgItemTextW(hwnd(), IDC_NOTSYNCED_COUNT, notSyncedCount(items_.size()).c_str());
}

void NotSyncedWindow::onCommand(int id, int /*code*/) {
  if (id == IDC_BUTTON1 || id == IDCANCEL) hide();
}

bool NotSyncedWindow::handle(UINT message, WPARAM /*wParam*/, LPARAM lParam, INT_PTR& result) {
  if (message != WM_SIZE) return false;
  // The list and the button follow the window's size.
  const int width = LOWORD(lParam), height = HIWORD(lParam), margin = scaled(10), button = scaled(24);
  MoveWindow(item(IDC_NOTSYNCED_COUNT), margin, margin, width - 2 * margin, scaled(28), TRUE);
  MoveWindow(item(IDC_NOTSYNCED_LIST), margin, margin + scaled(32), width - 2 * margin,
             height - 3 * margin - scaled(32) - button, TRUE);
  MoveWindow(item(IDC_BUTTON1), width - margin - scaled(80), height - margin - button, scaled(80), button, TRUE);
  result = 0;
  return true;
}

}  // namespace kq::win
