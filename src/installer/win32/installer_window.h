#pragma once
// InstallerWindow is TForm4, "Configure Korvalinq Drive": the first page takes
// the server host, the API key, the contract number and the sync folder;
// "Configure" (Panel2) runs the installation; the second page (Notebook1) then
// offers "Next" (Panel1), which starts the installed client and closes the
// window. No exception leaves the window procedure.
#include <windows.h>

#include "installer/install_procedure.h"
#include "installer/win32/installer_ports_win32.h"

namespace kq::installer {

class InstallerWindow {
 public:
  InstallerWindow(InstallerPorts ports, ConfigFields& fields, Win32InstallerShell& shell,
                  Win32InstallerMessages& messages)
      : ports_(ports), installation_(ports, fields), shell_(shell), messages_(messages) {}
  ~InstallerWindow();

  // create builds the window and its controls (FormCreate) and shows it.
  [[nodiscard]] bool create(HINSTANCE instance);
  HWND hwnd() const { return hwnd_; }

  void FormCreate();
  void SpeedButton1Click();
  void Panel2Click();
  void Panel1Click();

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void onCommand(int id);
  LRESULT colourStatic(HDC dc, HWND control);
  void showSecondPage();
  std::string fieldText(int id) const;

  InstallerPorts ports_;
  Installation installation_;
  Win32InstallerShell& shell_;
  Win32InstallerMessages& messages_;
  HWND hwnd_ = nullptr;
  HBRUSH white_ = CreateSolidBrush(RGB(255, 255, 255));
  HFONT fonts_[4] = {};
};

}  // namespace kq::installer
