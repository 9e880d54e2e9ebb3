#include "ui/headless/client_app.h"

#include <unistd.h>

#include <ctime>

#include "config/settings.h"
#include "engine/timer_schedule.h"
#include "platform/codepage.h"
#include "platform/posix/local_path.h"
#include "tracking/exceptions_editor.h"
#include "ui/headless/trash_keeper.h"
#include "ui/headless/tree_move_runner.h"

namespace kq {

namespace {

constexpr int kTrashCheckMs = 3600 * 1000;  // the trash is looked at hourly

std::int64_t nowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

ClientConfig configRecord(const ClientApp::Setup& setup) {
  ClientConfig record = makeClientConfig(setup.exeLocalPath);
  record.configFolder = setup.configFolderLocal;
  record.configFileName = setup.configFileName;
  return record;
}

}  // namespace

// StatusOut feeds the engine's status to the state file, the status line and
// the messages.
struct ClientApp::StatusOut : EngineStatusPort {
  StatePublisher* file = nullptr;
  TerminalStatusView* line = nullptr;
  ClientNotices* notices = nullptr;
  const FolderLock* lock = nullptr;
  void publish(const EngineStatus& status) override {
    file->setFolderLocked(lock->held());
    file->publish(status);
    notices->statusChanged(status);
    const auto& transfer = status.receiving ? status.receiving : status.sending;
    line->setProgress(transfer ? transferText(*transfer) : "");
  }
};

ClientApp::ClientApp(const Setup& setup, std::FILE* statusOut, FolderLock& folderLock)
    : folderLock_(folderLock), syncFolderNative_(setup.syncFolderNative), config_(fs_, configRecord(setup)),
      status_(statusOut) {
  notices_ = std::make_unique<ClientNotices>(
      logger_, setup.server, [this](const std::string& text) { tell(text); },
      [this](int code) {
        exitCode_ = code;
        loop_.stop();
      },
      setup.verbosity);
  ClientState initial;
  initial.pid = static_cast<long>(::getpid());
  initial.server = setup.server.host + ":" + setup.server.port;
  initial.contract = setup.server.contract;
  initial.syncFolder = setup.syncFolderNative;
  publisher_ = std::make_unique<StatePublisher>(initial, setup.state.status, nowSeconds);
  statusOut_ = std::make_unique<StatusOut>();
  statusOut_->file = publisher_.get();
  statusOut_->line = &status_;
  statusOut_->notices = notices_.get();
  statusOut_->lock = &folderLock_;
  processes_ = makeTreeMoveRunner(fs_);
  server_ = std::make_unique<TcpClient>(loop_, relay_.server);
  watcher_ = std::make_unique<WatcherClient>(
      loop_, relay_.watcher, setup.watcher.socketPath, setup.watcher.port, [this](std::optional<uid_t> owner) {
        notices_->watcherForeign(owner ? std::optional<long>(static_cast<long>(*owner)) : std::nullopt);
      });
  config_.acceptNativeFolders(nativeToLocalPath);
  // The configuration window reads "filesync.cfg" when it is created; errors are ignored.
  try {
    if (config_.configFileExists()) config_.reload();
  } catch (const std::exception&) {
  }
  // "UnicodeNames" = 1 in the settings: local text is UTF-8, every name can be held.
  try {
    if (config_.configFileExists() && readUnicodeNames(ini_, config_.settingsPath()))
      setActiveCodePage(makeUnicodeNames(makeCodePage(activeCodePage().number())));
    // "LogLevel" = trace: the protocol trace goes to the file as well.
    if (config_.configFileExists()) logger_.setFileTrace(readLogTrace(ini_, config_.settingsPath()));
  } catch (const std::exception&) {
  }
  EnginePorts ports{*server_, *watcher_, fs_,         clock_,  ini_,    status_,
                    folders_, dialogs_,  *processes_, config_, logger_, errors_, *statusOut_};
  engine_ = std::make_unique<SyncEngine>(ports);
  events_ = std::make_unique<EngineEvents>(*engine_, logger_);
  events_->observeServer(&notices_->serverEvents());
  events_->observeWatcher(&notices_->watcherEvents());
  relay_.server.target = &events_->serverEvents();
  relay_.watcher.target = &events_->watcherEvents();
  // The exceptions editor is created at start-up and loads the lists.
  ExceptionsEditor(engine_->exceptionFilter(), config_, logger_).FormShow();
  engine_->start();
  createTimers();
}

void ClientApp::tell(const std::string& text) {
  status_.messageComing();
  std::fprintf(stderr, "kqfilesync: %s\n", text.c_str());
  std::fflush(stderr);
}

ClientApp::~ClientApp() {
  // The sockets go before the engine they report to, without further events.
  server_.reset();
  watcher_.reset();
  status_.finish();
}

bool ClientApp::holdFolder() {
  if (folderLock_.follow() != FolderLock::State::Refused) return folderLock_.held();
  notices_->stopping(folderLock_.problem());
  exitCode_ = kExitInUse;
  loop_.stop();
  return false;
}

void ClientApp::createTimers() {
  // The server is reached only while the folder is held: a client without the
  // lock never syncs. The lock is taken again when the folder comes back,
  // before the engine notices it.
  reconnectTimer_ = loop_.addTimer(timers::kReconnectMs, [this] {
    if (holdFolder()) events_->ReconnectTimer();
  });
  loop_.addTimer(timers::kCheckChangesMs, [this] {
    holdFolder();
    if (exitCode_ != kExitInUse) events_->CheckChangesTimer();
  });
  // No error boxes to close and nothing to do: the timers run as the window's do.
  loop_.addTimer(timers::kErrorHandlingMs, [] {});
  loop_.addTimer(timers::kTimer1Ms, [] {});
  loop_.addTimer(timers::kStatusMs, [this] { events_->StatusTimer(); });
  loop_.addTimer(kTrashCheckMs, [this] { keepTrash(); });
  keepTrash();
  loop_.setAfterEach([this] { loop_.setTimerEnabled(reconnectTimer_, events_->reconnectEnabled()); });
}

void ClientApp::keepTrash() {
  if (!folderLock_.held()) return;
  int days = kDefaultTrashDays;
  try {
    days = readTrashDays(ini_, config_.settingsPath());
  } catch (const std::exception&) {
  }
  auto emptied = emptyTrash(syncFolderNative_ + "/_trash", days, nowSeconds());
  const std::string age = " older than " + std::to_string(days) + " days";
  if (emptied.removed > 0)
    logger_.writeLog("Trash emptied of " + std::to_string(emptied.removed) + " item(s)" + age, true);
  if (emptied.failed > 0)
    logger_.writeLog("Trash: " + std::to_string(emptied.failed) + " item(s)" + age + " cannot be removed", true);
}

int ClientApp::run() {
  loop_.run();
  events_->guard("stop", [this] { engine_->stop(); });
  status_.setProgress("");
  publisher_->stopped();
  return exitCode_;
}

}  // namespace kq
