// ui_driver drives the client's windows from outside its process, as a user
// would: one command per run, results on stdout, exit code 0 on success.
//   wait-window TITLE [MS]        a top-level window with TITLE exists
//   wait-visible TITLE [MS]       ... and is visible
//   wait-hidden TITLE [MS]        ... and is hidden (or gone)
//   wait-gone TITLE [MS]          no such window any more
//   watch-window TITLE [MS]       watch for a short-lived window: prints "seen closed",
//                                 "seen open" (still there 3 s later) or "never"
//   tray-click                    left click on the client's tray icon
//   menu ID                       choose a main-menu or pop-up item of the client
//   alt-f1                        press Alt+F1 in the client's main window
//   click TITLE ID                press a button of a window
//   set-text TITLE ID TEXT        set the text of a control (WM_SETTEXT)
//   replace-text TITLE ID TEXT    replace an edit control's text as typing does
//   get-text TITLE ID             print a control's text
//   checked TITLE ID              print 1 when a radio button is checked, else 0
//   select TITLE ID INDEX         select an item of a list box
//   rect TITLE                    print the window's left top right bottom
//   client-size TITLE             print the client area's width and height
//   close TITLE                   send WM_CLOSE
//   screen                        print the primary monitor's width and height
//   panel-rects TITLE ID          print each status-bar panel's left top right bottom, one a line
//   list-items TITLE ID           print the lines of a list box, one a line
//   panel-texts TITLE ID          print each status-bar panel's text, one a line
// TEXT may hold "\n" for a line break.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kMain[] = L"Korvalinq Drive Client";
constexpr UINT kMsgTray = WM_APP + 1;

HWND waitFor(const wchar_t* title, int ms, bool (*done)(HWND), DWORD pollMs = 50) {
  DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  for (;;) {
    HWND w = FindWindowW(nullptr, title);
    if (done(w)) return w ? w : reinterpret_cast<HWND>(1);
    if (static_cast<int>(end - GetTickCount()) <= 0) return nullptr;
    Sleep(pollMs);
  }
}

std::wstring unescape(const wchar_t* text) {
  std::wstring out;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'\\' && p[1] == L'n') {
      out += L"\r\n";
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

HWND control(const wchar_t* title, const wchar_t* id) {
  HWND w = FindWindowW(nullptr, title);
  if (!w) {
    fwprintf(stderr, L"no window %ls\n", title);
    return nullptr;
  }
  HWND c = GetDlgItem(w, _wtoi(id));
  if (!c) fwprintf(stderr, L"no control %ls in %ls\n", id, title);
  return c;
}

void printUtf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  fwrite(out.data(), 1, out.size(), stdout);
  fputc('\n', stdout);
}

int run(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring command = argv[1];
  auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : L""; };
  auto ms = [&](int i) { return i < argc ? _wtoi(argv[i]) : 5000; };
  if (command == L"wait-window")
    return waitFor(arg(2), ms(3), [](HWND w) { return w != nullptr; }) ? 0 : 1;
  if (command == L"wait-visible")
    return waitFor(arg(2), ms(3), [](HWND w) { return w && IsWindowVisible(w); }) ? 0 : 1;
  if (command == L"wait-hidden")
    return waitFor(arg(2), ms(3), [](HWND w) { return !w || !IsWindowVisible(w); }) ? 0 : 1;
  if (command == L"wait-gone")
    return waitFor(arg(2), ms(3), [](HWND w) { return w == nullptr; }) ? 0 : 1;
  if (command == L"watch-window") {
    // The box may live for a tenth of a second only: look often.
    if (!waitFor(arg(2), ms(3), [](HWND w) { return w != nullptr; }, 1)) {
      printf("never\n");
      return 0;
    }
    bool closed = waitFor(arg(2), 3000, [](HWND w) { return w == nullptr; }) != nullptr;
    printf(closed ? "seen closed\n" : "seen open\n");
    return 0;
  }
  if (command == L"tray-click" || command == L"menu" || command == L"alt-f1") {
    HWND main = FindWindowW(nullptr, kMain);
    if (!main) return 1;
    if (command == L"watch-window") {
    // The box may live for a tenth of a second only: look often.
    if (!waitFor(arg(2), ms(3), [](HWND w) { return w != nullptr; }, 1)) {
      printf("never\n");
      return 0;
    }
    bool closed = waitFor(arg(2), 3000, [](HWND w) { return w == nullptr; }) != nullptr;
    printf(closed ? "seen closed\n" : "seen open\n");
    return 0;
  }
  if (command == L"tray-click") {
      PostMessageW(main, kMsgTray, 1, WM_LBUTTONDOWN);
      PostMessageW(main, kMsgTray, 1, WM_LBUTTONUP);
    } else if (command == L"menu") {
      PostMessageW(main, WM_COMMAND, MAKEWPARAM(_wtoi(arg(2)), 0), 0);
    } else {
      // The keys go through the input queue to the foreground window.
      SetForegroundWindow(main);
      Sleep(100);
      INPUT keys[4] = {};
      const WORD codes[4] = {VK_MENU, VK_F1, VK_F1, VK_MENU};
      for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = codes[i];
        keys[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(codes[i], MAPVK_VK_TO_VSC));
        keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
      }
      if (SendInput(4, keys, sizeof(INPUT)) != 4) return 1;
    }
    return 0;
  }
  if (command == L"click") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    SendMessageW(c, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"set-text" || command == L"replace-text") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    std::wstring text = unescape(arg(4));
    if (command == L"set-text") {
      SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    } else {
      SendMessageW(c, EM_SETSEL, 0, -1);
      SendMessageW(c, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    return 0;
  }
  if (command == L"get-text") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    wchar_t buffer[65536] = {};
    SendMessageW(c, WM_GETTEXT, 65536, reinterpret_cast<LPARAM>(buffer));
    printUtf8(buffer);
    return 0;
  }
  if (command == L"checked") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    printf("%d\n", SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    return 0;
  }
  if (command == L"select") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    return SendMessageW(c, LB_SETCURSEL, static_cast<WPARAM>(_wtoi(arg(4))), 0) == LB_ERR ? 1 : 0;
  }
  if (command == L"rect" || command == L"client-size") {
    HWND w = FindWindowW(nullptr, arg(2));
    if (!w) return 1;
    RECT r;
    if (command == L"rect") {
      GetWindowRect(w, &r);
      printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    } else {
      GetClientRect(w, &r);
      printf("%ld %ld\n", r.right, r.bottom);
    }
    return 0;
  }
  if (command == L"close") {
    HWND w = FindWindowW(nullptr, arg(2));
    if (!w) return 1;
    PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"panel-rects") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    // SB_GETRECT writes into the memory of the window's own process.
    DWORD pid = 0;
    GetWindowThreadProcessId(c, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return 1;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    int parts = static_cast<int>(SendMessageW(c, SB_GETPARTS, 0, 0));
    for (int i = 0; remote && i < parts; ++i) {
      RECT r{};
      SendMessageW(c, SB_GETRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
      SIZE_T got = 0;
      ReadProcessMemory(process, remote, &r, sizeof r, &got);
      // In the parent's client coordinates.
      MapWindowPoints(c, GetParent(c), reinterpret_cast<POINT*>(&r), 2);
      printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return remote && parts > 0 ? 0 : 1;
  }
  if (command == L"panel-texts") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    // SB_GETTEXTW writes into the memory of the window's own process.
    DWORD pid = 0;
    GetWindowThreadProcessId(c, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return 1;
    constexpr SIZE_T kChars = 1024;
    void* remote = VirtualAllocEx(process, nullptr, kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE);
    int parts = static_cast<int>(SendMessageW(c, SB_GETPARTS, 0, 0));
    for (int i = 0; remote && i < parts; ++i) {
      wchar_t text[kChars] = {};
      if (LOWORD(SendMessageW(c, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0)) < kChars) {
        SendMessageW(c, SB_GETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
        SIZE_T got = 0;
        ReadProcessMemory(process, remote, text, sizeof text - sizeof(wchar_t), &got);
      }
      printUtf8(text);
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return remote && parts > 0 ? 0 : 1;
  }
  if (command == L"list-items") {
    HWND c = control(arg(2), arg(3));
    if (!c) return 1;
    LRESULT count = SendMessageW(c, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t buffer[4096] = {};
      SendMessageW(c, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
      printUtf8(buffer);
    }
    return 0;
  }
  if (command == L"screen") {
    printf("%d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return 0;
  }
  fwprintf(stderr, L"unknown command %ls\n", command.c_str());
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int status = run(argc, argv);
  fflush(stdout);
  return status;
}
