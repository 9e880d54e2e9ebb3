#include "uninstall/uninstall_system_win32.h"

#include <windows.h>
#include <shlobj.h>

#include "installer/install_layout.h"
#include "platform/win32/ansi_text.h"

namespace kq::uninstall {

namespace {

constexpr const wchar_t* kClientWindowTitle = L"Korvalinq Drive Client";
constexpr int kStopWaitMs = 15000;

// ServiceHandle closes a service control manager handle when it goes out of scope.
struct ServiceHandle {
  SC_HANDLE h = nullptr;
  ~ServiceHandle() {
    if (h) CloseServiceHandle(h);
  }
};

bool endProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  bool ended = TerminateProcess(process, 0) && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

void waitUntilStopped(SC_HANDLE service) {
  SERVICE_STATUS status{};
  for (int waited = 0; waited < kStopWaitMs; waited += 200) {
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return;
    Sleep(200);
  }
}

// markForRestart has Windows delete path (a folder after everything in it) at the next restart.
bool markForRestart(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return true;
  bool ok = true;
  if ((attrs & FILE_ATTRIBUTE_DIRECTORY) && !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") ok = markForRestart(path + L"\\" + name) && ok;
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE && ok;
}

}  // namespace

bool Win32UninstallSystem::removeAtRestart(const std::string& path) { return markForRestart(ansiToWide(path)); }

bool Win32UninstallSystem::endClient() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    HWND window = FindWindowW(nullptr, kClientWindowTitle);
    if (!window) return true;
    if (!endProcessOf(window)) Sleep(200);
  }
  return FindWindowW(nullptr, kClientWindowTitle) == nullptr;
}

bool Win32UninstallSystem::removeService() {
  ServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
  if (!manager.h) return false;
  ServiceHandle service{OpenServiceW(manager.h, ansiToWide(installer::kServiceName).c_str(),
                                     SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)};
  if (!service.h) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
  SERVICE_STATUS status{};
  if (ControlService(service.h, SERVICE_CONTROL_STOP, &status)) waitUntilStopped(service.h);
  return DeleteService(service.h) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool Win32UninstallSystem::deleteKey(const std::string& key) {
  LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, ansiToWide(key).c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

std::optional<std::string> Win32UninstallSystem::profileFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, path))) return std::nullopt;
  return wideToAnsi(path);
}

std::string Win32UninstallSystem::environment(const std::string& name) {
  wchar_t value[32768] = {};
  DWORD n = GetEnvironmentVariableW(ansiToWide(name).c_str(), value, 32768);
  return n == 0 || n >= 32768 ? std::string() : wideToAnsi(value);
}

}  // namespace kq::uninstall
