#include "watcher/watcher_loop_win32.h"

#include <winsock2.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/win32/ansi_text.h"
#include "watcher/change_reporter.h"
#include "watcher/directory_watcher_win32.h"
#include "watcher/listener_win32.h"

namespace kq {

namespace {

std::string stamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

class StreamLog : public Log {
 public:
  explicit StreamLog(std::string path) : path_(std::move(path)) {}
  void writeLog(const std::string& text, bool show) override {
    if (!show) return;
    std::string line = stamp() + " : " + text + "\n";
    if (path_.empty()) {
      std::fputs(line.c_str(), stderr);
      std::fflush(stderr);
      return;
    }
    if (FILE* file = _wfopen(ansiToWide(path_).c_str(), L"ab")) {
      std::fputs(line.c_str(), file);
      std::fclose(file);
    }
  }

 private:
  std::string path_;
};

DWORD earliest(DWORD a, DWORD b) { return a < b ? a : b; }

}  // namespace

Log& consoleLog() {
  static StreamLog log({});
  return log;
}

Log& fileLog(const std::string& path) {
  static StreamLog log(path);
  return log;
}

int runWatcher(const std::string& folderText, HANDLE stop, Log& log) {
  // Local text as the client's: UTF-8 when "UnicodeNames" is 1 in the settings.
  const std::wstring folder = ansiToWide(folderText);
  const std::wstring ini = folder + L"\\_config\\Filesync.ini";
  if (GetPrivateProfileIntW(L"Basic", L"UnicodeNames", 0, ini.c_str()) == 1)
    setActiveCodePage(makeUnicodeNames(makeCodePage(GetACP())));
  const std::string syncFolder = wideToAnsi(folder);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  int code = 0;
  {
    NotificationSender sender(log, buildWatcherNotification(ChangeAction::Rescan, WatchScope(syncFolder).syncFolder()));
    ChangeReporter reporter(WatchScope(syncFolder), sender);
    WatcherListenerWin32 listener(sender, log);
    if (!listener.listen()) {
      WSACleanup();
      return 1;
    }
    DirectoryWatcher watcher(syncFolder, reporter, log);
    HANDLE events[] = {stop, watcher.event(), listener.listenEvent(), listener.clientEvent()};
    for (;;) {
      DWORD timeout = earliest(watcher.poll(), listener.pump());
      DWORD which = WaitForMultipleObjects(4, events, FALSE, timeout);
      if (which == WAIT_OBJECT_0) break;
      if (which == WAIT_OBJECT_0 + 1) watcher.onEvent();
      if (which == WAIT_OBJECT_0 + 2) listener.onListenEvent();
      if (which == WAIT_OBJECT_0 + 3) listener.onClientEvent();
      if (which == WAIT_FAILED) {
        log.writeLog("Waiting for events failed (error " + std::to_string(GetLastError()) + ")", true);
        code = 1;
        break;
      }
    }
    log.writeLog("Stopped", true);
  }
  WSACleanup();
  return code;
}

}  // namespace kq
