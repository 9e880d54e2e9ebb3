// zrservice.exe for Windows: the service "ZRService". It watches the sync
// folder named in "filesync.cfg" beside the executable and reports every
// change to the client on 127.0.0.1 port 11111.
//
//   zrservice.exe                         run as the service (started by the service control manager)
//   zrservice.exe --console [--folder P]  run in this console until Ctrl+C (tests, debugging)
//
// As a service it logs to "zrservice.log" beside the executable, in the
// console to the standard error.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "config/client_config.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/file_system_win32.h"
#include "watcher/watcher_loop_win32.h"

namespace {

using namespace kq;

wchar_t kServiceName[] = L"ZRService";
HANDLE gStop = nullptr;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus{};

std::string modulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return wideToAnsi(path);
}

// syncFolderFromConfig reads the sync folder from "filesync.cfg" beside the executable.
std::optional<std::string> syncFolderFromConfig(Log& log) {
  Win32FileSystem fs;
  ClientConfig record = makeClientConfig(modulePath());
  ConfigFields fields;
  try {
    readConfig(record, record.configFolder, fields, fs);
  } catch (const std::exception& e) {
    log.writeLog(std::string("Cannot read the configuration: ") + e.what(), true);
    return std::nullopt;
  }
  std::string folder = syncFolderPath(record);
  if (folder.empty()) {
    log.writeLog("The configuration names no sync folder", true);
    return std::nullopt;
  }
  return folder;
}

void reportStatus(DWORD state, DWORD exitCode = NO_ERROR) {
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  gStatus.dwWin32ExitCode = exitCode;
  gStatus.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
  SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI serviceControl(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      reportStatus(SERVICE_STOP_PENDING);
      SetEvent(gStop);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  gStatusHandle = RegisterServiceCtrlHandlerExW(kServiceName, serviceControl, nullptr);
  if (!gStatusHandle) return;
  reportStatus(SERVICE_START_PENDING);
  Log& log = fileLog(makeClientConfig(modulePath()).exeFolder + "zrservice.log");
  auto folder = syncFolderFromConfig(log);
  if (!folder) {
    reportStatus(SERVICE_STOPPED, ERROR_BAD_CONFIGURATION);
    return;
  }
  gStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  reportStatus(SERVICE_RUNNING);
  int code = 0;
  try {
    code = runWatcher(*folder, gStop, log);
  } catch (const std::exception& e) {
    log.writeLog(std::string("Stopped by an error: ") + e.what(), true);
    code = 1;
  }
  reportStatus(SERVICE_STOPPED, code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

BOOL WINAPI consoleControl(DWORD) {
  SetEvent(gStop);
  return TRUE;
}

int runConsole(int argc, wchar_t** argv) {
  Log& log = consoleLog();
  std::optional<std::string> folder;
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--folder" && i + 1 < argc) folder = wideToAnsi(argv[++i]);
    else {
      std::fprintf(stderr, "usage: zrservice.exe --console [--folder PATH]\n");
      return 2;
    }
  }
  if (!folder) folder = syncFolderFromConfig(log);
  if (!folder) {
    std::fprintf(stderr, "zrservice: no sync folder: put filesync.cfg beside zrservice.exe or pass --folder PATH\n");
    return 2;
  }
  gStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(consoleControl, TRUE);
  return runWatcher(*folder, gStop, log);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  kq::setActiveCodePage(kq::makeCodePage(GetACP()));  // local text in the system's ANSI code page
  try {
    if (argc >= 2 && std::wstring(argv[1]) == L"--console") return runConsole(argc, argv);
    SERVICE_TABLE_ENTRYW table[] = {{kServiceName, serviceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return 0;
    std::fprintf(stderr, "zrservice: not started as a service (error %lu); use --console to run it here\n",
                 GetLastError());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zrservice: %s\n", e.what());
    return 1;
  }
}
