#include "installer/win32/flat_panel.h"

#include <windowsx.h>

namespace kq::installer {

namespace {

constexpr const wchar_t* kClassName = L"KQFlatPanel";

struct PanelState {
  bool hot = false;
  bool pressed = false;
  HFONT font = nullptr;
};

PanelState* stateOf(HWND panel) {
  return reinterpret_cast<PanelState*>(GetWindowLongPtrW(panel, GWLP_USERDATA));
}

void paint(HWND panel, const PanelState& state) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(panel, &ps);
  RECT area;
  GetClientRect(panel, &area);
  HBRUSH brush = GetSysColorBrush(state.hot ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT);
  FillRect(dc, &area, brush);
  wchar_t text[64] = {};
  GetWindowTextW(panel, text, 64);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ old = SelectObject(dc, state.font);
  DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, old);
  EndPaint(panel, &ps);
}

void setHot(HWND panel, PanelState& state, bool hot) {
  if (state.hot == hot) return;
  state.hot = hot;
  if (hot) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, panel, 0};
    TrackMouseEvent(&track);
  }
  InvalidateRect(panel, nullptr, FALSE);
}

void click(HWND panel) {
  SendMessageW(GetParent(panel), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(panel), BN_CLICKED),
               reinterpret_cast<LPARAM>(panel));
}

LRESULT handle(HWND panel, PanelState& state, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: paint(panel, state); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETCURSOR: SetCursor(LoadCursorW(nullptr, IDC_HAND)); return TRUE;
    case WM_MOUSEMOVE: setHot(panel, state, true); return 0;
    case WM_MOUSELEAVE: setHot(panel, state, false); return 0;
    case WM_LBUTTONDOWN:
      state.pressed = true;
      SetCapture(panel);
      return 0;
    case WM_LBUTTONUP: {
      bool wasPressed = state.pressed;
      state.pressed = false;
      ReleaseCapture();
      RECT area;
      GetClientRect(panel, &area);
      POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (wasPressed && PtInRect(&area, at)) click(panel);
      return 0;
    }
    case BM_CLICK: click(panel); return 0;
    case WM_SETTEXT: {
      LRESULT result = DefWindowProcW(panel, message, wParam, lParam);
      InvalidateRect(panel, nullptr, FALSE);
      return result;
    }
    default: return DefWindowProcW(panel, message, wParam, lParam);
  }
}

LRESULT CALLBACK procedure(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_NCCREATE) {
      auto* state = new PanelState;
      state->font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
      SetWindowLongPtrW(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    PanelState* state = stateOf(panel);
    if (message == WM_NCDESTROY && state) {
      DeleteObject(state->font);
      delete state;
      SetWindowLongPtrW(panel, GWLP_USERDATA, 0);
      return DefWindowProcW(panel, message, wParam, lParam);
    }
    if (!state) return DefWindowProcW(panel, message, wParam, lParam);
    return handle(panel, *state, message, wParam, lParam);
  } catch (...) {
    return DefWindowProcW(panel, message, wParam, lParam);
  }
}

}  // namespace

const wchar_t* registerFlatPanel(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  if (GetClassInfoExW(instance, kClassName, &cls)) return kClassName;
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = procedure;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_HAND);
  cls.lpszClassName = kClassName;
  RegisterClassExW(&cls);
  return kClassName;
}

bool flatPanelHot(HWND panel) {
  PanelState* state = stateOf(panel);
  return state && state->hot;
}

}  // namespace kq::installer
