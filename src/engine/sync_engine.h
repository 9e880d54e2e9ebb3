#pragma once
// SyncEngine owns the process-wide protocol and tracking state and routes every
// event of the platform (socket events, timer ticks, menu commands) to the
// subsystem object that handles it. It holds no sync logic of its own.
#include <functional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "engine/engine_ports.h"
#include "engine/handler_ports.h"
#include "engine/cycle_end_watch.h"
#include "engine/engine_status.h"
#include "engine/failed_items.h"
#include "engine/known_files_keeper.h"
#include "engine/server_refusal.h"
#include "engine/status_report.h"
#include "engine/sync_folder_guard.h"
#include "fileops/server_delete.h"
#include "fileops/server_move.h"
#include "protocol/change_report.h"
#include "protocol/connection.h"
#include "protocol/cycle_end.h"
#include "protocol/dispatcher.h"
#include "protocol/request_handler.h"
#include "tracking/change_timer.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"
#include "tracking/forced_sync.h"
#include "tracking/sync_folder_monitor.h"
#include "tracking/known_files.h"
#include "tracking/watcher_messages.h"
#include "transfer/file_receiver.h"
#include "transfer/file_sender.h"
#include "transfer/folder_listing.h"

namespace kq {

class SyncEngine {
 public:
  explicit SyncEngine(EnginePorts ports);
  SyncEngine(const SyncEngine&) = delete;
  SyncEngine& operator=(const SyncEngine&) = delete;

  // start runs once when the client starts, before any connection: it removes
  // the temporary files of transfers an earlier run did not finish, looks for
  // the changes made while the client was stopped and publishes the status.
  void start();
  // stop runs once when the client ends: the list of known files is saved.
  void stop() { knownFilesKeeper_.atStop(); }
  // StatusTimer is the client's own tick: it saves the known files when due and
  // publishes the status record.
  void StatusTimer();
  // noteError keeps text as the last error of the status.
  void noteError(const std::string& text) { statusReport_.noteError(text); }
  EngineStatus status() { return stamped_.stamp(statusReport_.current()); }
  // moveAnswerPending: a folder move's answer waits for the StatusTimer.
  bool moveAnswerPending() const { return serverMove_.answerPending(); }

  // Server link (FilesyncSocket) and its Reconnect timer and Connect1 menu item.
  void FilesyncSocketConnecting() { connection_.FilesyncSocketConnecting(); }
  void FilesyncSocketConnect();
  void FilesyncSocketDisconnect();
  void FilesyncSocketRead(std::string_view bytes) {
    ServerConnection::ReadEvent event(connection_);  // the silence clock waits meanwhile
    if (!bytes.empty()) noteServerSpoke();
    dispatcher_.FilesyncSocketRead(bytes);
    serverMove_.endOfReadEvent();  // a move's source lasts one read event
    statusReport_.endOfReadEvent();
  }
  void FilesyncSocketError(int code) { connection_.FilesyncSocketError(code); }
  // ReconnectTimer connects only while the sync folder is there, and after
  // refusals in a row only once the longer wait is over.
  void ReconnectTimer();
  void Connect1Click() {
    if (ports_.server.isActive()) refusal_.onOwnClose();
    connection_.Connect1Click();
  }
  // reconnectEnabled is the Reconnect timer's enabled state for the platform.
  bool reconnectEnabled() const { return connection_.reconnectEnabled(); }

  // Watcher link (ClientSocket1) and the CheckChanges timer.
  void ClientSocket1Connect() { watcherMessages_.ClientSocket1Connect(); }
  void ClientSocket1Read(std::string_view bytes) { watcherMessages_.ClientSocket1Read(bytes); }
  void CheckChangesTimer() {
    changeTimer_.changeTimerTick();
    (void)syncFolder_.check();
  }

  // File-list pop-up menu.
  void ItemA1Click() { forcedSync_.ItemA1Click(); }
  void Synchronizeall1Click() { forcedSync_.Synchronizeall1Click(); }
  void ItmeB1Click() { forcedSync_.ItmeB1Click(); }

  // registerHandler adds the member handler of a request type code; the handler
  // must live as long as the engine.
  void registerHandler(int code, RequestHandler& handler) { dispatcher_.setHandler(code, &handler); }
  // registerReceiver sets the RQFDA receiver (it must live as long as the engine).
  void registerReceiver(FileDataReceiver& receiver) { dispatcher_.setReceiver(&receiver); }
  FileDataReceiver* receiver() const { return dispatcher_.receiver(); }

  ProtocolState& protocol() { return protocol_; }
  ChangeTracker& tracker() { return tracker_; }
  SyncFolderMonitor& syncFolderMonitor() { return syncFolder_; }
  // knownFiles finds at start what changed while the client was not running.
  KnownFiles& knownFiles() { return knownFiles_; }
  ExceptionFilter& exceptionFilter() { return filter_; }
  ChangeReport& changeReport() { return changeReport_; }
  FileReceiver& fileReceiver() { return fileReceiver_; }
  // folderListing lets the platform set the walk's message pump.
  FolderListing& folderListing() { return folderListing_; }
  const EnginePorts& ports() const { return ports_; }

 private:
  // NotedErrors passes errors on to the platform's reporter and keeps the last
  // one for the status.
  struct NotedErrors : ErrorReporter {
    NotedErrors(ErrorReporter& inner, std::function<void(const std::string&)> note)
        : inner(inner), note(std::move(note)) {}
    void reportError(const std::string& text) override {
      note(text);
      inner.reportError(text);
    }
    ErrorReporter& inner;
    std::function<void(const std::string&)> note;
  };

  // ShownActivity passes the panels on to the platform's view and keeps the
  // activity panel's text for the status. While the server refuses the link,
  // the connection panel names the refusal instead of "Disconnected".
  struct ShownActivity : StatusView {
    explicit ShownActivity(StatusView& inner) : inner(inner) {}
    void setPanel(int index, const std::string& text) override {
      if (index == 1) activity = text;
      if (index == 0 && text == "Disconnected" && !refusal.empty()) {
        inner.setPanel(0, refusal);
        return;
      }
      inner.setPanel(index, text);
    }
    void setConnectCaption(const std::string& caption) override { inner.setConnectCaption(caption); }
    StatusView& inner;
    std::string activity;
    std::string refusal;  // the connection panel's text while refused
  };

  // StampedStatus adds the refusal to the record before it is published.
  struct StampedStatus : EngineStatusPort {
    explicit StampedStatus(EngineStatusPort& inner) : inner(inner) {}
    EngineStatus stamp(EngineStatus status) const {
      status.refusal = refusal;
      status.refusalsInARow = refusalsInARow;
      return status;
    }
    void publish(const EngineStatus& status) override { inner.publish(stamp(status)); }
    EngineStatusPort& inner;
    std::string refusal;
    int refusalsInARow = 0;
  };

  // linkIdentity is what the server judges at the init text: host, port,
  // protocol, contract and key of the configuration.
  std::string linkIdentity() const;
  void noteServerSpoke();
  void showRefusal(bool refused);

  EnginePorts ports_;
  ShownActivity shown_;
  StampedStatus stamped_;
  ServerRefusal refusal_;
  FailedItems failed_;
  NotedErrors errors_;
  BoundedIniFile settingsIni_;  // "Filesync.ini", never read whole when oversized
  ProtocolState protocol_;
  ExceptionFilter filter_;
  ChangeTracker tracker_;
  SyncFolderMonitor syncFolder_;
  KnownFiles knownFiles_;
  Dispatcher dispatcher_;
  ServerConnection connection_;
  // Request handlers. Further subsystems (file transfer, file operations) add
  // their handler members here and register them in the constructor.
  ChangeReport changeReport_;
  CycleEnd cycleEnd_;
  CycleEndWatch cycleEndWatch_;
  WatcherMessages watcherMessages_;
  ChangeTimer changeTimer_;
  ForcedSync forcedSync_;
  // File transfer and server-ordered file operations; their file system never
  // creates a missing sync folder.
  SyncFolderGuard guardedFs_;
  HandlerPorts handlerPorts_;
  FileReceiver fileReceiver_;
  FileRequestHandler fileRequests_;
  LogRequestHandler logRequests_;
  FolderListing folderListing_;
  ServerDelete serverDelete_;
  ServerMove serverMove_;
  KnownFilesKeeper knownFilesKeeper_;
  StatusReport statusReport_;
};

}  // namespace kq
