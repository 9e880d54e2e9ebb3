#pragma once
// SyncEngine owns the process-wide protocol and tracking state and routes every
// event of the platform (socket events, timer ticks, menu commands) to the
// subsystem object that handles it. It holds no sync logic of its own.
#include <string_view>

#include "engine/engine_ports.h"
#include "engine/handler_ports.h"
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
  // the temporary files of transfers an earlier run did not finish.
  void start() { fileReceiver_.removeLeftovers(); }

  // Server link (FilesyncSocket) and its Reconnect timer and Connect1 menu item.
  void FilesyncSocketConnecting() { connection_.FilesyncSocketConnecting(); }
  void FilesyncSocketConnect() { connection_.FilesyncSocketConnect(); }
  void FilesyncSocketDisconnect() { connection_.FilesyncSocketDisconnect(); }
  void FilesyncSocketRead(std::string_view bytes) {
    dispatcher_.FilesyncSocketRead(bytes);
    serverMove_.endOfReadEvent();  // a move's source lasts one read event
  }
  void FilesyncSocketError(int code) { connection_.FilesyncSocketError(code); }
  void ReconnectTimer() { connection_.ReconnectTimer(); }
  void Connect1Click() { connection_.Connect1Click(); }
  // reconnectEnabled is the Reconnect timer's enabled state for the platform.
  bool reconnectEnabled() const { return connection_.reconnectEnabled(); }

  // Watcher link (ClientSocket1) and the CheckChanges timer.
  void ClientSocket1Connect() { watcherMessages_.ClientSocket1Connect(); }
  void ClientSocket1Read(std::string_view bytes) { watcherMessages_.ClientSocket1Read(bytes); }
  void CheckChangesTimer() { changeTimer_.changeTimerTick(); }

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
  ExceptionFilter& exceptionFilter() { return filter_; }
  ChangeReport& changeReport() { return changeReport_; }
  FileReceiver& fileReceiver() { return fileReceiver_; }
  // folderListing lets the platform set the walk's message pump.
  FolderListing& folderListing() { return folderListing_; }
  const EnginePorts& ports() const { return ports_; }

 private:
  EnginePorts ports_;
  ProtocolState protocol_;
  ExceptionFilter filter_;
  ChangeTracker tracker_;
  Dispatcher dispatcher_;
  ServerConnection connection_;
  // Request handlers. Further subsystems (file transfer, file operations) add
  // their handler members here and register them in the constructor.
  ChangeReport changeReport_;
  CycleEnd cycleEnd_;
  WatcherMessages watcherMessages_;
  ChangeTimer changeTimer_;
  ForcedSync forcedSync_;
  // File transfer and server-ordered file operations.
  HandlerPorts handlerPorts_;
  FileReceiver fileReceiver_;
  FileRequestHandler fileRequests_;
  LogRequestHandler logRequests_;
  FolderListing folderListing_;
  ServerDelete serverDelete_;
  ServerMove serverMove_;
};

}  // namespace kq
