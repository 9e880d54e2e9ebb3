// zrservice for Linux: watches the sync folder with inotify and reports every
// change to the client on 127.0.0.1 port 11111.
//
//   zrservice [--folder PATH]
//
// Without --folder the sync folder comes from "filesync.cfg" in the folder of
// the executable. SIGINT and SIGTERM end it.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "config/client_config.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/local_path.h"
#include "watcher/change_reporter.h"
#include "watcher/inotify_watcher_posix.h"
#include "watcher/listener_posix.h"
#include "watcher/notification_hub.h"

namespace {

using namespace kq;

EventLoop* gLoop = nullptr;

void onStopSignal(int) {
  if (gLoop) gLoop->requestStopFromSignal();
}

// StderrLog writes "yyyy/mm/dd hh:nn:ss : text" lines to the standard error.
class StderrLog : public Log {
 public:
  void writeLog(const std::string& text, bool show) override {
    if (!show) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s : %s\n", stamp, text.c_str());
    std::fflush(stderr);
  }
};

struct SyncFolder {
  std::string native;
  std::string local;
};

std::string exeFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

// folderFromOption takes a folder as the user typed it (relative to the working folder).
SyncFolder folderFromOption(const std::string& typed) {
  std::filesystem::path p = std::filesystem::absolute(typed).lexically_normal();
  std::string native = p.string();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return {native, nativeToLocalPath(native)};
}

std::optional<SyncFolder> folderFromConfig(StderrLog& log) {
  PosixFileSystem fs;
  std::string programFolder = nativeToLocalPath(exeFolder());
  ClientConfig record = makeClientConfig(programFolder + "\\zrservice");
  ConfigFields fields;
  try {
    readConfig(record, record.configFolder, fields, fs);
  } catch (const std::exception& e) {
    log.writeLog(std::string("Cannot read the configuration: ") + e.what(), true);
    return std::nullopt;
  }
  std::string local = syncFolderPath(record);
  auto native = localToNativePath(local);
  if (local.empty() || !native) {
    log.writeLog("The sync folder \"" + local + "\" is not a path on this machine", true);
    return std::nullopt;
  }
  return SyncFolder{*native, local};
}

int usage() {
  std::fprintf(stderr, "usage: zrservice [--folder PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  StderrLog log;
  // The code page of local text, as the client's (Windows-1252 unless set).
  if (const char* text = std::getenv("KQFILESYNC_CODEPAGE"); text != nullptr && *text != '\0') {
    auto page = kq::makeCodePage(static_cast<unsigned>(std::strtoul(text, nullptr, 10)));
    if (!page) {
      std::fprintf(stderr, "zrservice: unknown code page KQFILESYNC_CODEPAGE=%s\n", text);
      return 2;
    }
    kq::setActiveCodePage(std::move(page));
  }
  std::optional<SyncFolder> folder;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) folder = folderFromOption(argv[++i]);
    else if (arg.rfind("--folder=", 0) == 0) folder = folderFromOption(arg.substr(9));
    else return usage();
  }
  if (!folder) folder = folderFromConfig(log);
  if (!folder) {
    std::fprintf(stderr, "zrservice: no sync folder: put filesync.cfg beside zrservice or pass --folder PATH\n");
    return 2;
  }

  EventLoop loop;
  gLoop = &loop;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGPIPE, SIG_IGN);

  NotificationHub hub(log);
  ChangeReporter reporter(WatchScope(folder->local), hub);
  WatcherListener listener(loop, hub, log);
  if (!listener.listen()) return 1;
  InotifyWatcher watcher(loop, folder->native, folder->local, reporter, log);
  if (!watcher.start()) return 1;
  loop.setAfterEach([&] { listener.pump(); });
  loop.run();
  log.writeLog("Stopped", true);
  gLoop = nullptr;
  return 0;
}
