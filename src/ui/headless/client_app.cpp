#include "ui/headless/client_app.h"

#include "tracking/exceptions_editor.h"
#include "ui/headless/tree_move_runner.h"

namespace kq {

struct ClientApp::ServerEvents : LinkEvents {
  SyncEngine* engine = nullptr;
  void onConnecting() override { engine->FilesyncSocketConnecting(); }
  void onConnect() override { engine->FilesyncSocketConnect(); }
  void onRead(std::string_view bytes) override { engine->FilesyncSocketRead(bytes); }
  void onDisconnect() override { engine->FilesyncSocketDisconnect(); }
  void onError(int code) override { engine->FilesyncSocketError(code); }
};

// The watcher link has connect and read handlers only.
struct ClientApp::WatcherEvents : LinkEvents {
  SyncEngine* engine = nullptr;
  void onConnect() override { engine->ClientSocket1Connect(); }
  void onRead(std::string_view bytes) override { engine->ClientSocket1Read(bytes); }
};

ClientApp::ClientApp(const std::string& exeLocalPath, std::FILE* statusOut)
    : config_(fs_, makeClientConfig(exeLocalPath)), status_(statusOut) {
  processes_ = makeTreeMoveRunner(fs_);
  serverEvents_ = std::make_unique<ServerEvents>();
  watcherEvents_ = std::make_unique<WatcherEvents>();
  server_ = std::make_unique<TcpClient>(loop_, *serverEvents_);
  watcher_ = std::make_unique<WatcherClient>(loop_, *watcherEvents_);
  // The configuration window reads "filesync.cfg" when it is created; errors are ignored.
  try {
    if (config_.configFileExists()) config_.reload();
  } catch (const std::exception&) {
  }
  EnginePorts ports{*server_, *watcher_, fs_,        clock_,      ini_, status_,
                    folders_, dialogs_,  *processes_, config_, logger_, errors_};
  engine_ = std::make_unique<SyncEngine>(ports);
  serverEvents_->engine = engine_.get();
  watcherEvents_->engine = engine_.get();
  // The exceptions editor is created at start-up and loads the lists.
  ExceptionsEditor(engine_->exceptionFilter(), config_, logger_).FormShow();
  engine_->start();
  createTimers();
}

ClientApp::~ClientApp() {
  // The sockets go before the engine they report to, without further events.
  server_.reset();
  watcher_.reset();
  status_.finish();
}

void ClientApp::createTimers() {
  reconnectTimer_ = loop_.addTimer(kReconnectMs, [this] { engine_->ReconnectTimer(); });
  loop_.addTimer(kCheckChangesMs, [this] { engine_->CheckChangesTimer(); });
  // No error boxes to close and nothing to do: the timers run as the window's do.
  loop_.addTimer(kErrorHandlingMs, [] {});
  loop_.addTimer(kTimer1Ms, [] {});
  loop_.setAfterEach([this] { loop_.setTimerEnabled(reconnectTimer_, engine_->reconnectEnabled()); });
}

void ClientApp::run() { loop_.run(); }

}  // namespace kq
