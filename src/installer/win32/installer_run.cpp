#include "installer/installer.h"

#include <commctrl.h>
#include <ole2.h>

#include "installer/win32/installer_window.h"
#include "platform/win32/file_system_win32.h"

namespace kq {

int runInstaller(HINSTANCE instance) {
  HRESULT ole = OleInitialize(nullptr);  // the new-style folder browser and shell links need it
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  Win32FileSystem fs;
  installer::Win32InstallerShell shell;
  installer::Win32Registry registry;
  installer::Win32InstallerMessages messages;
  ConfigFields fields;  // the configuration window's fields
  int code = 0;
  {
    installer::InstallerWindow window({fs, shell, registry, messages}, fields, shell, messages);
    if (window.create(instance)) {
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.hwnd() && IsDialogMessageW(window.hwnd(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      code = static_cast<int>(message.wParam);
    }
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return code;
}

}  // namespace kq
