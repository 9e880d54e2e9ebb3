#include "installer/win32/installer_controls.h"

#include <commctrl.h>

#include "installer/installer_ids.h"
#include "installer/win32/flat_panel.h"

namespace kq::installer {

namespace {

constexpr const wchar_t* kNotebookClass = L"KQNotebook";
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

struct ControlSpec {
  int id;
  const wchar_t* cls;  // nullptr: the flat panel class
  const wchar_t* text;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  FontIndex font;
};

// kFirstPage lies on the window itself; kSecondPage on Notebook1.
const ControlSpec kFirstPage[] = {
    {kVersionId, L"STATIC", L"", kChild | SS_LEFT, 0, 80, 56, 60, 18, kTextFont},
    {kCredentialsHeadingId, L"STATIC", L"Enter your Korvalinq credentials", kChild | SS_LEFT, 0,
     40, 92, 300, 24, kHeadingFont},
    {kEdit1Id, L"EDIT", L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 40, 124, 300, 26,
     kTextFont},
    {kEdit3Id, L"EDIT", L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 40, 160, 300, 26,
     kTextFont},
    {kEdit5Id, L"EDIT", L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 40, 196, 300, 26,
     kTextFont},
    {kFolderHeadingId, L"STATIC", L"Choose where you want us to\nsynchronize  your Korvalinq files to",
     kChild | SS_LEFT, 0, 40, 240, 300, 44, kHeadingFont},
    {kEdit2Id, L"EDIT", L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY, WS_EX_CLIENTEDGE, 40, 292,
     262, 26, kTextFont},
    {kSpeedButton1Id, L"BUTTON", L"...", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 306, 292, 34, 26,
     kTextFont},
    {kPanel2Id, nullptr, L"Configure", kChild, 0, 40, 352, 300, 40, kTextFont},
    {kNotebook1Id, kNotebookClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 80,
     kLeftPartWidth, kClientHeight - 80, kTextFont},
};

const ControlSpec kSecondPage[] = {
    {kDoneHeadingId, L"STATIC", L"That was it!\nKorvalinq Drive is\nnow installed.", kChild | SS_LEFT, 0,
     40, 20, 330, 130, kBigFont},
    {kDoneNoteId, L"STATIC", L"Please click \"Next\" to finish\nthe installation.", kChild | SS_LEFT, 0,
     40, 170, 300, 44, kHeadingFont},
    {kPanel1Id, nullptr, L"Next", kChild, 0, 40, 272, 300, 40, kTextFont},
    {kStartCheckId, L"BUTTON", L"Start Filesync after installation",
     WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 40, 326, 300, 22, kTextFont},
};

// The second page passes its children's notifications on to the window.
LRESULT CALLBACK notebookProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(page), message, wParam, lParam);
    default:
      return DefWindowProcW(page, message, wParam, lParam);
  }
}

void registerNotebook(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  if (GetClassInfoExW(instance, kNotebookClass, &cls)) return;
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = notebookProcedure;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  cls.lpszClassName = kNotebookClass;
  RegisterClassExW(&cls);
}

HFONT makeFont(int height, int weight) {
  return CreateFontW(-scaled(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                     L"Segoe UI");
}

template <std::size_t N>
void createAll(HWND parent, HINSTANCE instance, const ControlSpec (&specs)[N], const HFONT* fonts) {
  const wchar_t* panelClass = registerFlatPanel(instance);
  for (const auto& s : specs) {
    HWND control = CreateWindowExW(s.exStyle, s.cls ? s.cls : panelClass, s.text, s.style, scaled(s.x),
                                   scaled(s.y), scaled(s.width), scaled(s.height), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[s.font]), FALSE);
  }
}

}  // namespace

int scaled(int pixels) {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return MulDiv(pixels, dpi, 96);
}

void createFonts(HFONT* fonts) {
  fonts[kTextFont] = makeFont(15, FW_NORMAL);
  fonts[kHeadingFont] = makeFont(17, FW_NORMAL);
  fonts[kBigFont] = makeFont(32, FW_BOLD);
  fonts[kLogoFont] = makeFont(22, FW_BOLD);
}

void createControls(HWND window, HINSTANCE instance, const HFONT* fonts) {
  registerNotebook(instance);
  createAll(window, instance, kFirstPage, fonts);
  createAll(GetDlgItem(window, kNotebook1Id), instance, kSecondPage, fonts);
  SendMessageW(GetDlgItem(GetDlgItem(window, kNotebook1Id), kStartCheckId), BM_SETCHECK, BST_CHECKED, 0);
}

}  // namespace kq::installer
