// zrservice for Linux: watches the sync folder with inotify and reports every
// change to the client of the same user on its watcher address (127.0.0.1
// port 11111 unless "filesync.cfg" names another port or a UNIX-domain socket).
//
//   zrservice [--folder PATH] [--watcher PORT|unix]
//
// Without --folder the sync folder comes from "filesync.cfg" (the user's own,
// else beside the executable); the watcher address comes from --watcher, else
// from that file. SIGINT and SIGTERM end it.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arg_parser.h"
#include "cli/config_location.h"
#include "config/config_store.h"
#include "config/watcher_address.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/local_path.h"
#include "platform/posix/native_text.h"
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
    std::fprintf(stderr, "%s : %s\n", stamp, nativeText(text).c_str());
    std::fflush(stderr);
  }
};

struct SyncFolder {
  std::string native;
  std::string local;
  std::optional<std::string> watcher;  // the "Watcher" setting of the configuration
  std::string configFile;              // where it was read ("" without one)
};

// folderFromOption takes a folder as the user typed it (relative to the working folder).
SyncFolder folderFromOption(const std::string& typed) {
  std::filesystem::path p = std::filesystem::absolute(typed).lexically_normal();
  std::string native = p.string();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return {native, nativeToLocalPath(native), std::nullopt, {}};
}

constexpr const char* kUsage =
    "Usage: zrservice [--folder PATH] [--watcher PORT|unix]\n"
    "\n"
    "The watcher of Korvalinq Drive: it watches the sync folder with inotify and\n"
    "reports every change to the kqfilesync of the same user, on 127.0.0.1:11111\n"
    "or the address that filesync.cfg names (\"Watcher\").\n"
    "\n"
    "Options:\n"
    "  --folder PATH   the sync folder (default: the one in filesync.cfg, beside\n"
    "                  zrservice or in $XDG_CONFIG_HOME/kqfilesync)\n"
    "  --watcher PORT|unix\n"
    "                  listen on 127.0.0.1:PORT, or with unix on the socket\n"
    "                  $XDG_RUNTIME_DIR/kqfilesync/zrservice.sock (default: the\n"
    "                  setting of filesync.cfg, else port 11111)\n"
    "  --help          show this text\n"
    "  --version       show the version and build\n"
    "\n"
    "SIGTERM or SIGINT stops the watcher. Exit status: 0 stopped, 1 cannot watch\n"
    "or listen, 2 bad command line, 78 no usable configuration.\n";

// ConfigProblem is a configuration that names no usable sync folder.
struct ConfigProblem : std::runtime_error {
  using std::runtime_error::runtime_error;
};

SyncFolder folderFromConfig() {
  auto folder = kq::cli::findConfigFolder(kq::cli::executableFolder());
  if (!folder)
    throw ConfigProblem("no configuration: neither " + kq::cli::executableFolder() + "/filesync.cfg nor " +
                        kq::cli::userConfigFolder() + "/filesync.cfg exists; pass --folder PATH or run "
                        "\"kqfilesync install\"");
  std::string file = *folder + "/filesync.cfg";
  PosixFileSystem fs;
  ConfigStore config(fs, makeClientConfig(nativeToLocalPath(*folder) + "\\zrservice"));
  config.acceptNativeFolders(nativeToLocalPath);  // "KQDir" may be "/home/me/Sync" or "Z:\\home\\me\\Sync"
  try {
    config.reload();
  } catch (const std::exception& e) {
    throw ConfigProblem(file + ": cannot be read: " + nativeText(e.what()));
  }
  std::string local = config.syncFolder();
  auto native = localToNativePath(local);
  if (local.empty() || !native || (!config.nativeFolder().empty() && *native != config.nativeFolder()))
    throw ConfigProblem(file + ": the sync folder \"" + nativeText(local) + "\" is not a path on this machine");
  std::ifstream in(file, std::ios::binary);
  return SyncFolder{*native, local,
                    watcherSetting(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())),
                    file};
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
  WatcherAddress address;
  try {
    auto args = kq::cli::parseArgs(std::vector<std::string>(argv + 1, argv + argc),
                                   {{"folder", true}, {"watcher", true}, {"help", false, 'h'}, {"version", false}});
    if (args.has("help")) return std::fputs(kUsage, stdout), 0;
    if (args.has("version")) return std::printf("%s\n", kq::cli::versionText("zrservice").c_str()), 0;
    kq::cli::requireWordCount(args, 0);
    if (auto typed = args.value("folder")) {
      if (typed->empty()) throw kq::cli::UsageError("--folder: empty path");
      folder = folderFromOption(*typed);
    } else {
      folder = folderFromConfig();
    }
    if (auto typed = args.value("watcher")) folder->watcher = *typed;
    try {
      address = watcherAddress(folder->watcher, std::getenv("XDG_RUNTIME_DIR"));
    } catch (const std::invalid_argument& e) {
      if (args.value("watcher")) throw kq::cli::UsageError(std::string("--watcher: ") + e.what());
      throw ConfigProblem(folder->configFile + ": " + e.what());
    }
  } catch (const kq::cli::UsageError& e) {
    std::fprintf(stderr, "zrservice: %s\n\n%s", e.what(), kUsage);
    return kq::cli::kExitUsage;
  } catch (const ConfigProblem& e) {
    std::fprintf(stderr, "zrservice: %s\n", e.what());
    return kq::cli::kExitConfig;
  }

  EventLoop loop;
  gLoop = &loop;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGPIPE, SIG_IGN);

  NotificationHub hub(log, buildWatcherNotification(ChangeAction::Rescan, WatchScope(folder->local).syncFolder()));
  ChangeReporter reporter(WatchScope(folder->local), hub);
  WatcherListener listener(loop, hub, log);
  if (address.socketPath.empty() ? !listener.listen(address.port) : !listener.listenAt(address.socketPath)) return 1;
  InotifyWatcher watcher(loop, folder->native, folder->local, reporter, log);
  if (!watcher.start()) return 1;
  loop.setAfterEach([&] { listener.pump(); });
  loop.run();
  log.writeLog("Stopped", true);
  gLoop = nullptr;
  return 0;
}
