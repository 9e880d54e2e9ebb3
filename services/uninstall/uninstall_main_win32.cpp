// uninstall.exe removes Korvalinq Drive from the computer.
//
//   uninstall.exe [/quiet]
//
// Started from its own folder (as the uninstall entry does), it first copies
// itself to the temporary folder and hands over to that copy, so that its
// folder can be removed too; the copy is deleted at the next restart. /quiet
// asks nothing and shows nothing; the exit code is 0 when everything is gone.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "installer/install_layout.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/file_system_win32.h"
#include "uninstall/uninstall_system_win32.h"

namespace {

using namespace kq;

constexpr const wchar_t* kAfterOption = L"--after";

struct Options {
  bool quiet = false;
  DWORD waitFor = 0;  // the process that handed over, 0 when none
};

Options parse() {
  Options options;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; args && i < count; ++i) {
    std::wstring arg = args[i];
    if (arg == L"/quiet" || arg == L"/S") options.quiet = true;
    else if (arg == kAfterOption && i + 1 < count) options.waitFor = static_cast<DWORD>(_wtoi(args[++i]));
  }
  LocalFree(args);
  return options;
}

std::wstring modulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// handOver copies the uninstaller to the temporary folder and starts the copy; false when it cannot.
bool handOver(const std::wstring& self, const Options& options) {
  wchar_t temp[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, temp)) return false;
  std::wstring copy = std::wstring(temp) + L"Korvalinq Drive uninstall.exe";
  if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) return false;
  std::wstring command = L"\"" + copy + L"\" " + kAfterOption + L" " + std::to_wstring(GetCurrentProcessId());
  if (options.quiet) command += L" /quiet";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void waitForProcess(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return;
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
}

int runUninstall(const Options& options, bool runningFromCopy, const std::wstring& self) {
  const wchar_t* caption = L"Uninstall Korvalinq Drive";
  if (!options.quiet && MessageBoxW(nullptr, ansiToWide(uninstall::kConfirmText).c_str(), caption,
                                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return 1;
  Win32FileSystem fs;
  uninstall::Win32UninstallSystem system;
  uninstall::Uninstallation uninstallation(fs, system);
  auto left = uninstallation.run();
  if (runningFromCopy) MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  if (!options.quiet)
    MessageBoxW(nullptr, ansiToWide(uninstall::reportText(left, uninstallation.atRestart())).c_str(), caption,
                MB_OK | (left.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
  return left.empty() ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    Options options = parse();
    std::wstring self = modulePath();
    if (options.waitFor) {
      waitForProcess(options.waitFor);
      return runUninstall(options, true, self);
    }
    uninstall::Win32UninstallSystem system;
    std::string ownFolder = installer::folderOf(wideToAnsi(self));
    std::string appData = system.environment("APPDATA");
    if (!appData.empty() && uninstall::isInside(ownFolder, installer::uninstallerFolder(appData)) &&
        handOver(self, options))
      return 0;
    return runUninstall(options, false, self);
  } catch (...) {
    MessageBoxW(nullptr, L"The uninstallation failed.", L"Error", MB_OK | MB_ICONERROR);
    return 2;
  }
}
