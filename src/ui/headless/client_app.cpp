#include "ui/headless/client_app.h"

#include <unistd.h>

#include <chrono>
#include <ctime>

#include "config/settings.h"
#include "platform/codepage.h"
#include "tracking/exceptions_editor.h"
#include "ui/headless/tree_move_runner.h"

namespace kq {

namespace {

std::int64_t nowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t steadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// shownName is a file of the sync folder as the user knows it: "docs/big.iso".
std::string shownName(const std::string& localPath, const std::string& syncFolder) {
  std::string name = localPath;
  if (name.rfind(syncFolder + "\\", 0) == 0) name = name.substr(syncFolder.size() + 1);
  for (char& c : name)
    if (c == '\\') c = '/';
  return cp1252ToUtf8(name);
}

ClientConfig configRecord(const ClientApp::Setup& setup) {
  ClientConfig record = makeClientConfig(setup.exeLocalPath);
  record.configFolder = setup.configFolderLocal;
  return record;
}

}  // namespace

// The notices see every event before the engine does.
struct ClientApp::ServerEvents : LinkEvents {
  SyncEngine* engine = nullptr;
  ClientNotices* notices = nullptr;
  void onConnecting() override { engine->FilesyncSocketConnecting(); }
  void onConnect() override {
    notices->serverConnected();
    engine->FilesyncSocketConnect();
  }
  void onRead(std::string_view bytes) override {
    notices->serverRead();
    engine->FilesyncSocketRead(bytes);
  }
  void onDisconnect() override {
    notices->serverDisconnected();
    engine->FilesyncSocketDisconnect();
  }
  void onError(int code) override {
    notices->serverError(code);
    engine->FilesyncSocketError(code);
  }
};

// The engine has connect and read handlers only for the watcher link.
struct ClientApp::WatcherEvents : LinkEvents {
  SyncEngine* engine = nullptr;
  ClientNotices* notices = nullptr;
  void onConnect() override {
    notices->watcherConnected();
    engine->ClientSocket1Connect();
  }
  void onRead(std::string_view bytes) override { engine->ClientSocket1Read(bytes); }
  void onError(int) override { notices->watcherUnavailable(); }
};

ClientApp::ClientApp(const Setup& setup, std::FILE* statusOut)
    : config_(fs_, configRecord(setup)), status_(statusOut) {
  notices_ = std::make_unique<ClientNotices>(
      logger_, setup.server, [this](const std::string& text) { tell(text); },
      [this](int code) {
        exitCode_ = code;
        loop_.stop();
      });
  ClientState initial;
  initial.pid = static_cast<long>(::getpid());
  initial.server = setup.server.host + ":" + setup.server.port;
  initial.contract = setup.server.contract;
  initial.syncFolder = setup.syncFolderNative;
  publisher_ = std::make_unique<StatePublisher>(initial, stateFilePath(setup.syncFolderNative));
  followViews();
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
  // "UnicodeNames" = 1 in the settings: local text is UTF-8, every name can be held.
  try {
    if (config_.configFileExists() && readUnicodeNames(ini_, config_.settingsPath()))
      setActiveCodePage(makeUnicodeNames(makeCodePage(activeCodePage().number())));
  } catch (const std::exception&) {
  }
  EnginePorts ports{*server_, *watcher_, fs_,        clock_,      ini_, status_,
                    folders_, dialogs_,  *processes_, config_, logger_, errors_};
  engine_ = std::make_unique<SyncEngine>(ports);
  serverEvents_->engine = engine_.get();
  serverEvents_->notices = notices_.get();
  watcherEvents_->engine = engine_.get();
  watcherEvents_->notices = notices_.get();
  // The exceptions editor is created at start-up and loads the lists.
  ExceptionsEditor(engine_->exceptionFilter(), config_, logger_).FormShow();
  engine_->start();
  engine_->knownFiles().findChanges(config_.syncFolder());
  rememberFiles();
  createTimers();
}

void ClientApp::followViews() {
  status_.onPanel = [this](int index, const std::string& text) {
    publisher_->onPanel(index, text, nowSeconds());
    // Panel 2 is set when a server cycle ends.
    if (index == 2 && nowSeconds() - rememberedAt_ >= kRememberEverySeconds) loop_.post([this] { rememberFiles(); });
  };
  status_.onCaption = [this](const std::string& caption) { publisher_->onCaption(caption); };
  logView_.onChange = [this](const std::string* added, bool) {
    if (added) publisher_->onLogLine(*added);
  };
}

void ClientApp::rememberFiles() {
  rememberedAt_ = nowSeconds();
  if (!engine_->knownFiles().remember(config_.syncFolder()))
    logger_.writeLog("The list of known files cannot be saved", true);
}

// sampleTransfer shows the file being received, its bytes done / total and the rate.
void ClientApp::sampleTransfer() {
  const FileReceiver& receiver = engine_->fileReceiver();
  const bool underWay = engine_->protocol().fileDataMode && !receiver.receivingFileName.empty() &&
                        receiver.receivedFileBytes < receiver.expectedFileSize;
  if (!underWay) {
    if (!transferShown_) return;
    transferShown_ = false;
    meter_.reset();
    status_.setProgress("");
    publisher_->setTransfer(std::nullopt);
    return;
  }
  TransferProgress progress =
      meter_.sample(shownName(receiver.receivingFileName, config_.syncFolder()),
                    static_cast<std::int64_t>(receiver.receivedFileBytes),
                    static_cast<std::int64_t>(receiver.expectedFileSize), steadyMs());
  transferShown_ = true;
  status_.setProgress(transferText(progress));
  publisher_->setTransfer(progress);
}

void ClientApp::tell(const std::string& text) {
  status_.finish();
  std::fprintf(stderr, "kqfilesync: %s\n", text.c_str());
  std::fflush(stderr);
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
  loop_.addTimer(kPublishMs, [this] {
    sampleTransfer();
    publisher_->publish(nowSeconds());
  });
  loop_.setAfterEach([this] { loop_.setTimerEnabled(reconnectTimer_, engine_->reconnectEnabled()); });
}

int ClientApp::run() {
  publisher_->publish(nowSeconds());
  loop_.run();
  rememberFiles();
  publisher_->onPanel(0, "Disconnected", nowSeconds());
  publisher_->publish(nowSeconds());
  return exitCode_;
}

}  // namespace kq
