#pragma once
// ClientApp is the headless client: the sync engine with the POSIX ports, the
// two client sockets and the timers of engine/timer_schedule.h on one event
// loop. It holds no sync logic: it wires the ports and hands every event to
// EngineEvents.
#include <memory>
#include <string>

#include "config/config_store.h"
#include "engine/engine_events.h"
#include "engine/sync_engine.h"
#include "log/log.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/ini_file_posix.h"
#include "config/watcher_address.h"
#include "platform/posix/tcp_client_posix.h"
#include "platform/posix/watcher_client_posix.h"
#include "platform/process_runner.h"
#include "ui/headless/client_notices.h"
#include "ui/headless/folder_lock.h"
#include "ui/headless/headless_views.h"
#include "ui/headless/log_files.h"
#include "ui/headless/state_location.h"
#include "ui/headless/status_publisher.h"

namespace kq {

class ClientApp {
 public:
  static constexpr int kExitInUse = 75;
  struct Setup {
    std::string exeLocalPath;        // the executable's path as local path text
    std::string configFolderLocal;   // the folder of the configuration, local path text
    std::string configFileName = "filesync.cfg";
    std::string syncFolderNative;    // where the state file goes
    ClientNotices::Target server;    // for the messages
    WatcherAddress watcher;          // where the user's zrservice listens
    StateFiles state;                // what "kqfilesync status" reads
    ClientNotices::Verbosity verbosity = ClientNotices::Verbosity::Normal;
  };
  // statusOut is the terminal for the status line, nullptr for none. The
  // client syncs only while folderLock holds the sync folder; it takes the
  // lock again when the folder comes back.
  ClientApp(const Setup& setup, std::FILE* statusOut, FolderLock& folderLock);
  ~ClientApp();

  // run handles events until stop() (from a signal: requestStop()) and returns
  // the exit code: 0, ClientNotices::kExitRejected when the client gave up, or
  // kExitInUse when the sync folder came back locked by another kqfilesync.
  int run();
  void requestStop() { loop_.requestStopFromSignal(); }
  EventLoop& loop() { return loop_; }

 private:
  struct StatusOut;
  // LinkRelay passes a socket's events on to a target set once the engine exists.
  struct LinkRelay : LinkEvents {
    LinkEvents* target = nullptr;
    void onConnecting() override { if (target) target->onConnecting(); }
    void onConnect() override { if (target) target->onConnect(); }
    void onRead(std::string_view bytes) override { if (target) target->onRead(bytes); }
    void onDisconnect() override { if (target) target->onDisconnect(); }
    void onError(int code) override { if (target) target->onError(code); }
  };
  void createTimers();
  // holdFolder follows the folder with the lock; false while the client must not sync.
  bool holdFolder();
  void tell(const std::string& text);
  // keepTrash empties the trash of entries older than "TrashDays" (while the folder is held).
  void keepTrash();

  FolderLock& folderLock_;
  std::string syncFolderNative_;
  EventLoop loop_;
  PosixFileSystem fs_;
  SystemClock clock_;
  PosixIniFile ini_{fs_};
  LogFiles logFs_;
  ConfigStore config_;
  LogView logView_;
  Logger logger_{logFs_, clock_, config_, logView_};
  TerminalStatusView status_;
  HeadlessFolderView folders_;
  StderrDialogs dialogs_{status_};
  StderrErrorReporter errors_{status_};
  std::unique_ptr<ProcessRunner> processes_;
  struct {
    LinkRelay server, watcher;
  } relay_;
  std::unique_ptr<StatusOut> statusOut_;
  std::unique_ptr<TcpClient> server_;
  std::unique_ptr<WatcherClient> watcher_;
  std::unique_ptr<SyncEngine> engine_;
  std::unique_ptr<EngineEvents> events_;
  EventLoop::TimerId reconnectTimer_ = 0;
  std::unique_ptr<ClientNotices> notices_;
  std::unique_ptr<StatePublisher> publisher_;
  int exitCode_ = 0;
};

}  // namespace kq
