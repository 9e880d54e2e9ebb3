#include "ui/win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

#include "engine/status_text.h"
#include "engine/tray_status.h"
#include "engine/timer_schedule.h"
#include "ui/win32/config_window.h"
#include "ui/win32/exceptions_window.h"
#include "ui/win32/log_window.h"
#include "ui/win32/not_synced_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/settings_window.h"
#include "ui/win32/small_windows.h"
#include "ui/win32/text.h"

namespace kq::win {
namespace {

constexpr wchar_t kClassName[] = L"TForm1";
constexpr UINT kMsgTray = WM_APP + 1;
constexpr UINT kMsgBoxes = WM_APP + 2;
constexpr UINT kServerMessages = WM_APP + 0x100;
constexpr UINT kWatcherMessages = WM_APP + 0x200;
constexpr UINT kTrayId = 1;
// Layout at 96 dpi.
constexpr int kClientWidth = kMainClientWidth, kClientHeight = kMainClientHeight, kPanelHeight = 42,
              kStatusHeight = 20;

HFONT makeFont(int pixels, int weight, const wchar_t* face) {
  return CreateFontW(-scaled(pixels), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, face);
}

void setFont(HWND control, HFONT font) {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void addTool(HWND tooltips, HWND owner, HWND control, const wchar_t* text) {
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = owner;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<wchar_t*>(text);
  SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

HICON loadSmallIcon(HINSTANCE instance, int id) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

}  // namespace

std::string lastSyncText(const std::optional<std::int64_t>& cycleEndedAt) {
  if (!cycleEndedAt) return {};
  // Unix seconds to a FILETIME (100 ns units since 1601), then local time.
  ULONGLONG ticks = (static_cast<ULONGLONG>(*cycleEndedAt) + 11644473600ULL) * 10000000ULL;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, local;
  SYSTEMTIME t;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) return {};
  char text[8];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(t.wHour), static_cast<unsigned>(t.wMinute));
  return text;
}

std::wstring trayTipText(const TrayView& view) {
  std::wstring tip = std::wstring(kApplicationTitle) + L": " + utf8ToWide(view.tip);
  if (tip.size() > 127) tip = tip.substr(0, 124) + L"...";
  return tip;
}

MainWindow::MainWindow(HINSTANCE instance, ConfigStore& config, Log& log)
    : instance_(instance), config_(config), log_(log) {}

MainWindow::~MainWindow() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (HFONT f : {boldFont_, treeFont_, listFont_})
    if (f) DeleteObject(f);
  if (popupMenu_) DestroyMenu(popupMenu_);
}

bool MainWindow::create() {
  appIcon_ = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
  smallIcon_ = loadSmallIcon(instance_, IDI_APP);
  workingIcon_ = loadSmallIcon(instance_, IDI_WORKING);
  attentionIcon_ = loadSmallIcon(instance_, IDI_ATTENTION);
  folderIcon_ = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDI_FOLDER), IMAGE_ICON, 16, 16, 0));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainWindow::procedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = appIcon_;
  windowClass.hIconSm = smallIcon_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  menu_ = LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_MAINMENU));
  HMENU popupRoot = LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_POPUP));
  popupMenu_ = popupRoot;
  accelerators_ = LoadAcceleratorsW(instance_, MAKEINTRESOURCEW(IDR_ACCEL));
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                      WS_THICKFRAME | WS_CLIPCHILDREN;
  RECT r{0, 0, scaled(kClientWidth), scaled(kClientHeight)};
  AdjustWindowRectEx(&r, style, TRUE, WS_EX_COMPOSITED);
  hwnd_ = CreateWindowExW(WS_EX_COMPOSITED, kClassName, kMainCaption, style, CW_USEDEFAULT,
                          CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, menu_,
                          instance_, this);
  if (!hwnd_) return false;
  // The menu may wrap onto two rows: make sure the client area is exact.
  RECT client;
  GetClientRect(hwnd_, &client);
  SetWindowPos(hwnd_, nullptr, 0, 0, (r.right - r.left) + scaled(kClientWidth) - client.right,
               (r.bottom - r.top) + scaled(kClientHeight) - client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  createControls();

  AsyncSocket::Events serverEvents;
  serverEvents.connecting = [this] { route([&] { events_->serverEvents().onConnecting(); }); };
  serverEvents.connect = [this] { route([&] { events_->serverEvents().onConnect(); }); };
  serverEvents.read = [this](std::string_view bytes) {
    route([&] { events_->serverEvents().onRead(bytes); });
  };
  serverEvents.disconnect = [this] { route([&] { events_->serverEvents().onDisconnect(); }); };
  // The engine logs a socket error and hands it to the error reporting (an error box).
  serverEvents.error = [this](int code, const char*) {
    route([&] { events_->serverEvents().onError(code); });
  };
  server_ = std::make_unique<Win32ServerLink>(hwnd_, kServerMessages, serverEvents);
  // The watcher link reports no errors: "Connecting to service..." in the log is the record.
  AsyncSocket::Events watcherEvents;
  watcherEvents.connect = [this] { route([&] { events_->watcherEvents().onConnect(); }); };
  watcherEvents.read = [this](std::string_view bytes) {
    route([&] { events_->watcherEvents().onRead(bytes); });
  };
  watcher_ = std::make_unique<Win32WatcherLink>(hwnd_, kWatcherMessages, watcherEvents);

  addTrayIcon();
  SetTimer(hwnd_, kReconnect, timers::kReconnectMs, nullptr);
  SetTimer(hwnd_, kCheckChanges, timers::kCheckChangesMs, nullptr);
  SetTimer(hwnd_, kErrorHandling, timers::kErrorHandlingMs, nullptr);
  SetTimer(hwnd_, kTimer1, timers::kTimer1Ms, nullptr);
  SetTimer(hwnd_, kStatus, timers::kStatusMs, nullptr);
  reconnectOn_ = true;
  return true;
}

void MainWindow::createControls() {
  boldFont_ = makeFont(12, FW_BOLD, L"Tahoma");
  treeFont_ = makeFont(13, FW_NORMAL, L"Tahoma");
  listFont_ = makeFont(12, FW_NORMAL, L"Tahoma");
  const int listTop = scaled(kPanelHeight);
  const int listHeight = scaled(kClientHeight - kPanelHeight - kStatusHeight);
  auto child = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int x,
                   int y, int w, int h, int id) {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  panel_ = child(0, L"STATIC", L"", SS_NOTIFY, 0, 0, scaled(kClientWidth), scaled(kPanelHeight),
                 IDC_MAIN_PANEL1);
  button1_ = child(0, L"BUTTON", L"The main folder", BS_PUSHBUTTON | WS_TABSTOP, scaled(5),
                   scaled(5), scaled(112), scaled(32), IDC_MAIN_BUTTON1);
  setFont(button1_, boldFont_);
  speedButton1_ = child(0, L"BUTTON", L"", BS_PUSHBUTTON | BS_ICON, scaled(121), scaled(5),
                        scaled(33), scaled(32), IDC_MAIN_SPEEDBUTTON1);
  SendMessageW(speedButton1_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(folderIcon_));
  image1_ = child(0, L"STATIC", L"", SS_ICON, scaled(kClientWidth - 42), scaled(5), scaled(32),
                  scaled(32), IDC_MAIN_IMAGE1);
  SendMessageW(image1_, STM_SETICON, reinterpret_cast<WPARAM>(appIcon_), 0);

  const int half = scaled(kClientWidth) / 2;
  listView_ = child(0, WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL, 0, listTop, half, listHeight,
                    IDC_MAIN_LISTVIEW1);
  const RECT treeArea{0, listTop, half, listTop + listHeight};
  const RECT listArea{half, listTop, scaled(kClientWidth), listTop + listHeight};
  browser_.create(hwnd_, instance_, treeArea, listArea, treeFont_, listFont_);
  SetWindowPos(listView_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  statusBar_ = child(0, STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP | SBARS_TOOLTIPS, 0, 0, 0, 0, IDC_MAIN_STATUSBAR1);
  SendMessageW(statusBar_, SB_SETBKCOLOR, 0, RGB(160, 160, 160));
  trayTipText_ = CreateWindowExW(0, L"STATIC", trayTip_.c_str(), WS_CHILD, 0, 0, 0, 0, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MAIN_TRAYTIP)), instance_, nullptr);

  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                              nullptr, instance_, nullptr);
  addTool(tooltips_, hwnd_, speedButton1_, L"Show the contents of the selected folder");
  addTool(tooltips_, hwnd_, statusBar_, L"Filesync status panel");
  RECT client;
  GetClientRect(hwnd_, &client);
  layout(client.right, client.bottom);
}

// layout places the controls in a client area of width x height: the tool bar
// across the top, tree and file list side by side, the status bar at the
// bottom with its panels at their widths and the last one taking the rest.
void MainWindow::layout(int width, int height) {
  if (!statusBar_) return;
  const int listTop = scaled(kPanelHeight);
  const int listBottom = height - scaled(kStatusHeight);
  const int half = width / 2;
  MoveWindow(panel_, 0, 0, width, listTop, TRUE);
  MoveWindow(image1_, width - scaled(42), scaled(5), scaled(32), scaled(32), TRUE);
  MoveWindow(listView_, 0, listTop, half, listBottom - listTop, TRUE);
  browser_.move(RECT{0, listTop, half, listBottom}, RECT{half, listTop, width, listBottom});
  SendMessageW(statusBar_, WM_SIZE, 0, 0);
  int edges[7];
  int right = 0;
  for (int i = 0; i < 7; ++i) edges[i] = (right += scaled(kPanelWidths[i]));
  edges[6] = -1;
  SendMessageW(statusBar_, SB_SETPARTS, 7, reinterpret_cast<LPARAM>(edges));
}

void MainWindow::addTrayIcon() {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = hwnd_;
  icon.uID = kTrayId;
  icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  icon.uCallbackMessage = kMsgTray;
  HICON state = trayState_ == TrayState::Attention ? attentionIcon_
                : trayState_ == TrayState::Working  ? workingIcon_
                                                    : smallIcon_;
  icon.hIcon = state ? state : appIcon_;
  lstrcpynW(icon.szTip, trayTip_.c_str(), ARRAYSIZE(icon.szTip));
  Shell_NotifyIconW(NIM_ADD, &icon);
}

void MainWindow::setTray(const TrayView& view) {
  std::wstring tip = trayTipText(view);
  if (tip == trayTip_ && view.state == trayState_) return;
  const bool newState = view.state != trayState_;
  trayTip_ = tip;
  trayState_ = view.state;
  SetWindowTextW(trayTipText_, tip.c_str());
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = hwnd_;
  icon.uID = kTrayId;
  icon.uFlags = NIF_TIP;
  lstrcpynW(icon.szTip, tip.c_str(), ARRAYSIZE(icon.szTip));
  if (newState) {
    HICON state = view.state == TrayState::Attention ? attentionIcon_
                  : view.state == TrayState::Working ? workingIcon_
                                                     : smallIcon_;
    if (state) {
      icon.uFlags |= NIF_ICON;
      icon.hIcon = state;
    }
  }
  Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void MainWindow::showBalloon(const std::string& text) {
  log_.writeLog("Notice: " + text, true);
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = hwnd_;
  icon.uID = kTrayId;
  icon.uFlags = NIF_INFO;
  icon.dwInfoFlags = NIIF_WARNING;
  lstrcpynW(icon.szInfoTitle, kApplicationTitle, ARRAYSIZE(icon.szInfoTitle));
  lstrcpynW(icon.szInfo, utf8ToWide(text).c_str(), ARRAYSIZE(icon.szInfo));
  Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void MainWindow::publish(const EngineStatus& status) {
  setTray(trayView(status, lastSyncText(status.cycleEndedAt)));
  if (auto note = balloons_.next(status)) showBalloon(*note);
  // The activity panel shows the file under way with its bytes of the total.
  progress_ = status.receiving ? utf8ToWide("Receiving " + transferText(*status.receiving))
              : status.sending ? utf8ToWide("Sending " + transferText(*status.sending))
                               : std::wstring();
  showPanel(1, progress_.empty() ? activity_ : progress_);
  // "MB left" counts what the client still moves while a transfer runs.
  movingLeft_ = utf8ToWide(megabytesLeftPanel(status));
  showPanel(5, movingLeft_.empty() ? megabytesLeft_ : movingLeft_);
  if (windows_.notSynced) windows_.notSynced->setItems(status.failedItems);
}

template <class F>
void MainWindow::route(F&& call) {
  if (!events_) return;
  call();  // EngineEvents guards every event: nothing is thrown from it
  syncReconnectTimer();
}

void MainWindow::syncReconnectTimer() {
  if (!events_) return;
  bool wanted = events_->reconnectEnabled();
  if (wanted == reconnectOn_) return;
  if (wanted)
    SetTimer(hwnd_, kReconnect, timers::kReconnectMs, nullptr);
  else
    KillTimer(hwnd_, kReconnect);
  reconnectOn_ = wanted;
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->dispatch(message, wParam, lParam);
  } catch (...) {
    return 0;  // no failure leaves the window procedure
  }
}

LRESULT MainWindow::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (server_ && server_->socket().owns(message)) {
    server_->socket().handleMessage(message, wParam, lParam);
    return 0;
  }
  if (watcher_ && watcher_->socket().owns(message)) {
    watcher_->socket().handleMessage(message, wParam, lParam);
    return 0;
  }
  if (taskbarCreated_ && message == taskbarCreated_) {
    addTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
      return 0;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) layout(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO: {
      // The window never becomes smaller than its first size: every panel stays whole.
      RECT r{0, 0, scaled(kClientWidth), scaled(kClientHeight)};
      AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), TRUE, WS_EX_COMPOSITED);
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = POINT{r.right - r.left, r.bottom - r.top};
      return 0;
    }
    case WM_TIMER:
      onTimer(wParam);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && reinterpret_cast<HWND>(lParam) == button1_)
        Button1Click();
      else if (HIWORD(wParam) == BN_CLICKED && reinterpret_cast<HWND>(lParam) == speedButton1_)
        SpeedButton1Click();
      else if (lParam == 0)
        onCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return onNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_CONTEXTMENU: {
      auto from = reinterpret_cast<HWND>(wParam);
      if (from == browser_.list() || from == listView_) {  // FileListBox1ContextPopup, ListView1ContextPopup
        POINT at;
        GetCursorPos(&at);
        popupAt(at);
        return 0;
      }
      break;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == button1_ || reinterpret_cast<HWND>(wParam) == speedButton1_) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_SHOWWINDOW:
      if (wParam) FormShow();
      break;
    case kMsgTray:
      if (LOWORD(lParam) == WM_LBUTTONUP) {
        TrayIcon1Click();
      } else if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU) {
        POINT at;
        GetCursorPos(&at);
        popupAt(at);
      }
      return 0;
    case kMsgBoxes:
      showQueuedBoxes();
      return 0;
    case WM_CLOSE:
      if (FormClose()) DestroyWindow(hwnd_);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) {  // Windows shuts down: the program ends
        terminating_ = true;
        DestroyWindow(hwnd_);
      }
      return 0;
    case WM_DESTROY: {
      NOTIFYICONDATAW icon{};
      icon.cbSize = sizeof icon;
      icon.hWnd = hwnd_;
      icon.uID = kTrayId;
      Shell_NotifyIconW(NIM_DELETE, &icon);
      for (UINT_PTR id : {kReconnect, kCheckChanges, kErrorHandling, kTimer1, kStatus}) KillTimer(hwnd_, id);
      server_->socket().close(false);
      watcher_->socket().close(false);
      PostQuitMessage(0);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void MainWindow::onTimer(UINT_PTR id) {
  switch (id) {
    case kReconnect:
      route([&] { events_->ReconnectTimer(); });
      break;
    case kCheckChanges:
      route([&] { events_->CheckChangesTimer(); });
      if (windows_.config && windows_.config->visible()) windows_.config->showFields();
      if (IsWindowVisible(hwnd_)) browser_.refreshIfChanged();  // files come and go while it is shown
      break;
    case kErrorHandling:
      ErrorWindowTimer();
      break;
    case kStatus:
      route([&] { events_->StatusTimer(); });
      break;
    default:  // Timer1: nothing to do
      break;
  }
}

void MainWindow::onCommand(int id) {
  auto bringUp = [](HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
  };
  switch (id) {
    case IDM_CONNECT: route([&] { events_->Connect1Click(); }); break;
    case IDM_CONFIGURATION: if (windows_.config) bringUp(windows_.config->hwnd()); break;
    case IDM_EXCEPTIONS:
      if (windows_.exceptions) {
        windows_.exceptions->Exceptions1Click();
        SetForegroundWindow(windows_.exceptions->hwnd());
      }
      break;
    case IDM_SETTINGS: if (windows_.settings) bringUp(windows_.settings->hwnd()); break;
    case IDM_NOTSYNCED: if (windows_.notSynced) windows_.notSynced->showList(); break;
    case IDM_ABOUT: if (windows_.about) bringUp(windows_.about->hwnd()); break;
    case IDM_EXIT: Exit1Click(); break;
    case IDM_CLIENTLOG: if (windows_.log) windows_.log->showPlaced(); break;
    case IDM_ITEMA1: route([&] { events_->ItemA1Click(); }); break;
    case IDM_SYNCHRONIZEALL1: route([&] { events_->Synchronizeall1Click(); }); break;
    case IDM_ITMEB1: route([&] { events_->ItmeB1Click(); }); break;
    default: break;  // "SSL Connect" and "Snapshot" are hidden and do nothing
  }
}

LRESULT MainWindow::onNotify(const NMHDR& header) {
  if (header.hwndFrom == browser_.tree()) {
    browser_.onNotify(header);
  } else if (header.hwndFrom == listView_) {
    if (header.code == NM_CLICK) {  // ListView1Click
      int selected = ListView_GetNextItem(listView_, -1, LVNI_SELECTED);
      if (selected >= 0) log_.writeLog("Selected =" + std::to_string(selected), true);
    } else if (header.code == NM_DBLCLK) {  // ListView1DblClick
      RECT r;
      GetWindowRect(hwnd_, &r);
      popupAt(POINT{r.left + 10, r.top + 10});
    } else if (header.code == LVN_COLUMNCLICK) {
      POINT at;
      GetCursorPos(&at);
      popupAt(at);
    }
  }
  return 0;
}

void MainWindow::popupAt(POINT where) {
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(GetSubMenu(popupMenu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, where.x, where.y, 0,
                 hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);
}

bool MainWindow::translateAccelerator(MSG& message) {
  if (!hwnd_ || !accelerators_) return false;
  if (message.hwnd != hwnd_ && GetAncestor(message.hwnd, GA_ROOT) != hwnd_) return false;
  return TranslateAcceleratorW(hwnd_, accelerators_, &message) != 0;
}

// FormShow runs every time the window becomes visible.
void MainWindow::FormShow() {
  MONITORINFO info{sizeof info, {}, {}, 0};
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
  RECT me;
  GetWindowRect(hwnd_, &me);
  int width = me.right - me.left, height = me.bottom - me.top;
  int left = (info.rcMonitor.right - info.rcMonitor.left) - width;
  int top = (info.rcMonitor.bottom - info.rcMonitor.top) - height - 40;
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  try {
    showFolder("");
  } catch (...) {
    log_.writeLog("Error: FormShow()", true);
  }
}

// FormClose lets the window close only for "Exit" or when Windows shuts down;
// otherwise the window is hidden and the program goes on in the tray.
bool MainWindow::FormClose() {
  if (exitRequested_ || terminating_) return true;
  ShowWindow(hwnd_, SW_HIDE);
  return false;
}

void MainWindow::TrayIcon1Click() {
  ShowWindow(hwnd_, SW_SHOW);
  ShowWindow(hwnd_, SW_RESTORE);
  SetForegroundWindow(hwnd_);
}

void MainWindow::Button1Click() {
  try {
    showFolder("");
  } catch (const std::exception& e) {
    reportError(e.what());
  }
}

void MainWindow::SpeedButton1Click() {
  std::wstring folder = browser_.selectedFolder();
  if (folder.empty()) folder = toWide(browser_.currentFolder());
  ShellExecuteW(hwnd_, L"open", L"EXPLORER.EXE", folder.c_str(), nullptr, SW_SHOWDEFAULT);
}

void MainWindow::Exit1Click() {
  exitRequested_ = true;
  SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

// ErrorWindowTimer closes the application's error box while the server link is down.
void MainWindow::ErrorWindowTimer() {
  if (server_ && server_->isActive()) return;
  if (!errorBoxArmed_) {
    errorBoxArmed_ = true;
    return;
  }
  HWND box = FindWindowW(nullptr, kApplicationTitle);
  DWORD process = 0;
  if (box) GetWindowThreadProcessId(box, &process);
  if (box && process == GetCurrentProcessId()) SendMessageW(box, WM_CLOSE, 0, 0);
  errorBoxArmed_ = false;
}

void MainWindow::reportError(const std::string& text) {
  if (boxOpen_) return;  // at most one box at a time; the log holds the record
  for (auto& queued : queuedBoxes_)
    if (queued.first) return;
  queuedBoxes_.emplace_back(true, text);
  PostMessageW(hwnd_, kMsgBoxes, 0, 0);
}

void MainWindow::information(const std::string& text) {
  queuedBoxes_.emplace_back(false, text);
  PostMessageW(hwnd_, kMsgBoxes, 0, 0);
}

void MainWindow::showQueuedBoxes() {
  if (boxOpen_ || queuedBoxes_.empty()) return;
  auto [isError, text] = queuedBoxes_.front();
  queuedBoxes_.erase(queuedBoxes_.begin());
  boxOpen_ = true;
  if (isError)
    MessageBoxW(hwnd_, toWide(text).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
  else
    MessageBoxW(hwnd_, toWide(text).c_str(), L"Information", MB_OK | MB_ICONINFORMATION);
  boxOpen_ = false;
  if (!queuedBoxes_.empty()) PostMessageW(hwnd_, kMsgBoxes, 0, 0);
}

void MainWindow::setPanel(int index, const std::string& text) {
  if (index < 0 || index > 6) return;
  if (index == 1) {
    activity_ = toWide(text);
    if (!progress_.empty()) return;  // the transfer under way stays in view
  }
  if (index == 5) {
    megabytesLeft_ = toWide(text);
    if (!movingLeft_.empty()) return;  // the client's own count stays in view
  }
  showPanel(index, toWide(text));
}

void MainWindow::showPanel(int index, const std::wstring& text) {
  // The receiver sets the same text at every read: an unchanged panel is not
  // sent again, since each SB_SETTEXTW repaints the status bar.
  auto& shown = panelTexts_[static_cast<std::size_t>(index)];
  if (shown && *shown == text) return;
  shown = text;
  SendMessageW(statusBar_, SB_SETTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::setConnectCaption(const std::string& caption) {
  ModifyMenuW(menu_, IDM_CONNECT, MF_BYCOMMAND | MF_STRING, IDM_CONNECT, toWide(caption).c_str());
  DrawMenuBar(hwnd_);
}

// showFolder re-reads the configuration and shows folder in the tree, or the
// sync folder when folder is empty. A configuration that cannot be read is
// reported to the caller (ConfigError).
void MainWindow::showFolder(const std::string& folder) {
  ListView_DeleteAllItems(listView_);
  config_.reload();
  browser_.showFolder(folder.empty() ? config_.syncFolder() : folder);
}

}  // namespace kq::win
