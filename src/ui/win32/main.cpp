// KQFilesyncClient.exe: the Windows client of Korvalinq Drive.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/codepage.h"
#include "ui/win32/client_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Local path text is in the system's ANSI code page.
  kq::setActiveCodePage(kq::makeCodePage(GetACP()));
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring first = arguments && count > 1 ? arguments[1] : L"";
  if (arguments) LocalFree(arguments);
  return kq::win::runStartup(instance, first);
}
