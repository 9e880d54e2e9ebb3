#include "installer/win32/installer_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>

#include "installer/install_layout.h"
#include "installer/installer_ids.h"
#include "installer/win32/installer_controls.h"
#include "platform/win32/ansi_text.h"

namespace kq::installer {

namespace {

constexpr const wchar_t* kBrowseCaption = L"Choose where you want us to\nsynchronize your Korvalinq files to";

std::wstring textOf(HWND control) {
  int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return text;
}

void setHint(HWND window, int id, const wchar_t* hint) {
  SendMessageW(GetDlgItem(window, id), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint));
}

// centredFrame is the window rectangle for the client area, centred on the work area.
RECT centredFrame(DWORD style) {
  RECT frame{0, 0, scaled(kClientWidth), scaled(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int x = work.left + (work.right - work.left - width) / 2;
  int y = work.top + (work.bottom - work.top - height) / 2;
  return {x, y, x + width, y + height};
}

}  // namespace

InstallerWindow::~InstallerWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  for (HFONT font : fonts_) DeleteObject(font);
  DeleteObject(white_);
}

bool InstallerWindow::create(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = procedure;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  cls.hbrBackground = white_;
  cls.lpszClassName = kInstallerClass;
  if (!GetClassInfoExW(instance, kInstallerClass, &cls) && !RegisterClassExW(&cls)) return false;
  createFonts(fonts_);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT frame = centredFrame(style);
  hwnd_ = CreateWindowExW(0, kInstallerClass, ansiToWide(kWindowCaption).c_str(), style, frame.left, frame.top,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  createControls(hwnd_, instance, fonts_);
  shell_.setOwner(hwnd_);
  messages_.setOwner(hwnd_);
  FormCreate();
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  return true;
}

void InstallerWindow::FormCreate() {
  setHint(hwnd_, kEdit1Id, L"sync.example.com");
  setHint(hwnd_, kEdit3Id, L"API key (24 letters and digits)");
  setHint(hwnd_, kEdit5Id, L"Contract number (4 digits)");
  SetDlgItemTextW(hwnd_, kVersionId, (L"v" + ansiToWide(kVersion)).c_str());
  ShowWindow(GetDlgItem(hwnd_, kNotebook1Id), SW_HIDE);
  std::string folder = defaultSyncFolder(shell_.profileFolder().value_or(std::string()));
  SetDlgItemTextW(hwnd_, kEdit2Id, ansiToWide(folder).c_str());
}

void InstallerWindow::SpeedButton1Click() {
  BROWSEINFOW info{};
  info.hwndOwner = hwnd_;
  info.lpszTitle = kBrowseCaption;
  info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS;
  std::wstring chosen;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(list, path)) chosen = path;
    CoTaskMemFree(list);
  }
  SetDlgItemTextW(hwnd_, kEdit2Id, chosen.c_str());
}

void InstallerWindow::Panel2Click() {
  InstallerInput input{fieldText(kEdit1Id), fieldText(kEdit5Id), fieldText(kEdit3Id), fieldText(kEdit2Id)};
  InstallResult result = installation_.configure(input);
  for (const auto& failure : installation_.quietFailures()) std::printf("%s\n", failure.c_str());
  std::fflush(stdout);
  if (result == InstallResult::Installed) showSecondPage();
}

void InstallerWindow::Panel1Click() {
  HWND page = GetDlgItem(hwnd_, kNotebook1Id);
  if (IsDlgButtonChecked(page, kStartCheckId) == BST_CHECKED) shell_.shellOpen(kInstalledClient, "");
  DestroyWindow(hwnd_);
}

void InstallerWindow::showSecondPage() {
  ShowWindow(GetDlgItem(hwnd_, kCredentialsHeadingId), SW_HIDE);
  ShowWindow(GetDlgItem(hwnd_, kSpeedButton1Id), SW_HIDE);
  HWND page = GetDlgItem(hwnd_, kNotebook1Id);
  SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetFocus(page);
}

std::string InstallerWindow::fieldText(int id) const { return wideToAnsi(textOf(GetDlgItem(hwnd_, id))); }

void InstallerWindow::onCommand(int id) {
  switch (id) {
    case kSpeedButton1Id: SpeedButton1Click(); break;
    case kPanel2Id: Panel2Click(); break;
    case kPanel1Id: Panel1Click(); break;
    default: break;
  }
}

LRESULT InstallerWindow::colourStatic(HDC dc, HWND control) {
  int id = GetDlgCtrlID(control);
  bool grey = id == kCredentialsHeadingId || id == kFolderHeadingId || id == kVersionId || id == kDoneNoteId;
  SetTextColor(dc, grey ? RGB(128, 128, 128) : RGB(0, 0, 0));
  SetBkColor(dc, RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(white_);
}

LRESULT InstallerWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) onCommand(LOWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return colourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      paintArt(hwnd_, dc, fonts_);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

LRESULT CALLBACK InstallerWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<InstallerWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->hwnd_) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->handle(message, wParam, lParam);
  } catch (...) {
    if (message == WM_COMMAND)
      MessageBoxW(window, L"Error in Filesync installation!", L"Error", MB_OK | MB_ICONERROR);
    return 0;
  }
}

}  // namespace kq::installer
