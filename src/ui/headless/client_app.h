#pragma once
// ClientApp is the headless client: the sync engine with the POSIX ports, the
// two client sockets and the main window's four timers on one event loop.
//
// Timers, as the main window has them: Reconnect every 10 000 ms (first tick
// 10 s after start; it follows the engine's enabled state, and turning it on
// again starts a full interval), CheckChanges every 5000 ms (the first watcher
// attempt 5 s after start), ErrorHandling every 100 ms and Timer1 every 50 ms.
#include <memory>
#include <string>

#include "config/config_store.h"
#include "engine/sync_engine.h"
#include "log/log.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/ini_file_posix.h"
#include "platform/posix/tcp_client_posix.h"
#include "platform/process_runner.h"
#include "ui/headless/client_notices.h"
#include "ui/headless/headless_views.h"
#include "ui/headless/private_files.h"
#include "ui/headless/status_publisher.h"
#include "ui/headless/transfer_meter.h"

namespace kq {

class ClientApp {
 public:
  static constexpr int kReconnectMs = 10000;
  static constexpr int kCheckChangesMs = 5000;
  static constexpr int kErrorHandlingMs = 100;
  static constexpr int kTimer1Ms = 50;

  static constexpr int kPublishMs = 1000;
  // The files of the sync folder are remembered at start, at the end of a
  // server cycle (at most every kRememberEverySeconds) and at the stop.
  static constexpr int kRememberEverySeconds = 30;

  struct Setup {
    std::string exeLocalPath;        // the executable's path as local path text
    std::string configFolderLocal;   // the folder of "filesync.cfg", local path text
    std::string syncFolderNative;    // where the state file goes
    ClientNotices::Target server;    // for the messages
  };
  // statusOut is the terminal for the status line, nullptr for none.
  ClientApp(const Setup& setup, std::FILE* statusOut);
  ~ClientApp();

  // run handles events until stop() (from a signal: requestStop()) and returns
  // the exit code: 0, or ClientNotices::kExitRejected when the client gave up.
  int run();
  void requestStop() { loop_.requestStopFromSignal(); }
  EventLoop& loop() { return loop_; }

 private:
  struct ServerEvents;
  struct WatcherEvents;
  void createTimers();
  void followViews();
  void tell(const std::string& text);
  void rememberFiles();
  void sampleTransfer();

  EventLoop loop_;
  PosixFileSystem fs_;
  SystemClock clock_;
  PosixIniFile ini_{fs_};
  PrivateFileSystem logFs_;
  ConfigStore config_;
  LogView logView_;
  Logger logger_{logFs_, clock_, config_, logView_};
  TerminalStatusView status_;
  HeadlessFolderView folders_;
  StderrDialogs dialogs_{status_};
  StderrErrorReporter errors_{status_};
  std::unique_ptr<ProcessRunner> processes_;
  std::unique_ptr<ServerEvents> serverEvents_;
  std::unique_ptr<WatcherEvents> watcherEvents_;
  std::unique_ptr<TcpClient> server_;
  std::unique_ptr<WatcherClient> watcher_;
  std::unique_ptr<SyncEngine> engine_;
  EventLoop::TimerId reconnectTimer_ = 0;
  std::unique_ptr<ClientNotices> notices_;
  std::unique_ptr<StatePublisher> publisher_;
  int exitCode_ = 0;
  std::int64_t rememberedAt_ = 0;
  TransferMeter meter_;
  bool transferShown_ = false;
};

}  // namespace kq
