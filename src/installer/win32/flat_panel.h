#pragma once
// FlatPanel is the installer's flat button: a panel in the system highlight
// colour with white 15-pixel text. Under the mouse it takes the menu-highlight
// colour and gives it back when the mouse leaves. A click (or BM_CLICK) sends
// WM_COMMAND with BN_CLICKED to the parent.
#include <windows.h>

namespace kq::installer {

// registerFlatPanel registers the window class once; returns its name.
const wchar_t* registerFlatPanel(HINSTANCE instance);

// flatPanelHot tells whether the mouse is over the panel (its colour is the
// menu-highlight colour).
bool flatPanelHot(HWND panel);

}  // namespace kq::installer
