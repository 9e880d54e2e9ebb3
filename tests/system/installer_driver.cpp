// installer_driver.exe drives the installer window and the message boxes of
// the installer and the uninstaller from another process, for the system
// tests. It runs its steps in order and stops at the first that fails
// (exit code 1), printing what it found.
//
//   fill HOST CONTRACT KEY         type into Edit1, Edit5 and Edit3
//   folder PATH                    put PATH into the sync-folder field
//   click configure|next|browse    press Panel2, Panel1 or SpeedButton1
//   cancel-browse                  close the folder browser
//   box CAPTION TEXT               expect a message box with that text; press OK
//   answer CAPTION TEXT BUTTON     the same, pressing the button with that id (6 = Yes, 7 = No)
//   no-box CAPTION                 expect no message box with that caption within 1 s
//   expect ID TEXT                 expect the text of a control of the installer window
//   page2                          expect the second page to be shown
//   gone                           expect the installer window to close
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "installer/installer_ids.h"

namespace {

using namespace kq::installer;

constexpr DWORD kWaitMs = 30000;

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

// textOf reads a window's text across processes (GetWindowTextW would not).
std::wstring textOf(HWND window) {
  wchar_t text[2048] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

template <class Find>
HWND waitFor(Find find, DWORD ms = kWaitMs) {
  for (DWORD waited = 0;; waited += 100) {
    if (HWND found = find()) return found;
    if (waited >= ms) return nullptr;
    Sleep(100);
  }
}

HWND installer() { return FindWindowW(kInstallerClass, L"Configure Korvalinq Drive"); }

// control waits for a control of the installer: the window exists a moment
// before its controls do.
HWND control(int id) {
  return waitFor([id]() -> HWND {
    HWND window = installer();
    if (!window) return nullptr;
    if (HWND direct = GetDlgItem(window, id)) return direct;
    return GetDlgItem(GetDlgItem(window, kNotebook1Id), id);
  });
}

struct BoxText {
  std::wstring text;
};

BOOL CALLBACK collectStatic(HWND child, LPARAM param) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  if (lstrcmpiW(cls, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
    std::wstring text = textOf(child);
    if (!text.empty()) reinterpret_cast<BoxText*>(param)->text = text;
  }
  return TRUE;
}

bool fail(const std::string& what) {
  std::printf("driver: %s\n", what.c_str());
  std::fflush(stdout);
  return false;
}

bool setText(int id, const std::wstring& text) {
  HWND edit = control(id);
  if (!edit) return fail("no control " + std::to_string(id));
  SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
  return true;
}

bool click(const std::wstring& which) {
  int id = which == L"configure" ? kPanel2Id : which == L"next" ? kPanel1Id : kSpeedButton1Id;
  HWND button = control(id);
  if (!button) return fail("no button " + narrow(which));
  PostMessageW(button, BM_CLICK, 0, 0);  // posted: the click may open a modal box
  return true;
}

bool box(const std::wstring& caption, const std::wstring& expected, int button) {
  HWND found = waitFor([&] { return FindWindowW(L"#32770", caption.c_str()); });
  if (!found) return fail("no message box \"" + narrow(caption) + "\"");
  BoxText text;
  EnumChildWindows(found, collectStatic, reinterpret_cast<LPARAM>(&text));
  std::printf("box \"%s\": %s\n", narrow(caption).c_str(), narrow(text.text).c_str());
  std::fflush(stdout);
  HWND press = GetDlgItem(found, button);
  if (press) PostMessageW(press, BM_CLICK, 0, 0);
  else PostMessageW(found, WM_CLOSE, 0, 0);
  waitFor([&] { return IsWindow(found) ? nullptr : HWND(1); }, 5000);
  if (text.text != expected) return fail("expected \"" + narrow(expected) + "\"");
  return true;
}

bool cancelBrowse() {
  HWND found = waitFor([] {
    HWND owner = installer();
    HWND top = GetTopWindow(nullptr);
    for (HWND w = top; w; w = GetWindow(w, GW_HWNDNEXT)) {
      wchar_t cls[32] = {};
      GetClassNameW(w, cls, 32);
      if (GetWindow(w, GW_OWNER) == owner && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w)) return w;
    }
    return HWND(nullptr);
  });
  if (!found) return fail("no folder browser");
  std::printf("browser \"%s\"\n", narrow(textOf(found)).c_str());
  PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
  waitFor([&] { return IsWindow(found) ? nullptr : HWND(1); }, 5000);
  return true;
}

bool run(const std::vector<std::wstring>& a) {
  bool boxesOnly = a[0] == L"box" || a[0] == L"answer" || a[0] == L"no-box";
  if (!boxesOnly && !waitFor(installer)) return fail("no installer window");
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::wstring& step = a[i];
    auto arg = [&](std::size_t k) { return i + k < a.size() ? a[i + k] : std::wstring(); };
    bool ok = true;
    if (step == L"fill") {
      ok = setText(kEdit1Id, arg(1)) && setText(kEdit5Id, arg(2)) && setText(kEdit3Id, arg(3));
      i += 3;
    } else if (step == L"folder") {
      ok = setText(kEdit2Id, arg(1));
      i += 1;
    } else if (step == L"click") {
      ok = click(arg(1));
      i += 1;
    } else if (step == L"cancel-browse") {
      ok = cancelBrowse();
    } else if (step == L"box") {
      ok = box(arg(1), arg(2), IDOK);
      i += 2;
    } else if (step == L"answer") {
      ok = box(arg(1), arg(2), _wtoi(arg(3).c_str()));
      i += 3;
    } else if (step == L"no-box") {
      Sleep(1000);
      ok = FindWindowW(L"#32770", arg(1).c_str()) == nullptr || fail("unexpected box \"" + narrow(arg(1)) + "\"");
      i += 1;
    } else if (step == L"expect") {
      std::wstring text = textOf(control(_wtoi(arg(1).c_str())));
      ok = text == arg(2) || fail("control " + narrow(arg(1)) + " reads \"" + narrow(text) + "\"");
      i += 2;
    } else if (step == L"page2") {
      HWND page = waitFor([] { HWND p = control(kNotebook1Id); return p && IsWindowVisible(p) ? p : nullptr; });
      ok = page != nullptr || fail("the second page is not shown");
    } else if (step == L"gone") {
      ok = waitFor([] { return installer() ? nullptr : HWND(1); }) != nullptr || fail("the installer is still open");
    } else {
      ok = fail("unknown step " + narrow(step));
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> steps(argv + 1, argv + argc);
  if (steps.empty()) return 2;
  return run(steps) ? 0 : 1;
}
