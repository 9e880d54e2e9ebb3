#pragma once
// ServerConnection holds the lifecycle handlers of the server link: the
// Reconnect timer, the socket's connecting, connect, disconnect and error
// events, and the Connect1 menu item ("Connect" / "Disconnect").
#include <string>

#include "protocol/request_handler.h"

namespace kq {

class ConfigStore;
class Dispatcher;
class ErrorReporter;
class FileSystem;
class IniFile;
class Log;
class ServerLink;
class StatusView;

// parsePort reads a port field: decimal digits (blanks around them allowed) in
// 1..65535; anything else throws ConfigError.
int parsePort(const std::string& text);

class ServerConnection {
 public:
  ServerConnection(ProtocolState& state, Dispatcher& dispatcher, ServerLink& server,
                   ConfigStore& config, IniFile& ini, FileSystem& fs, StatusView& status,
                   Log& log, ErrorReporter& errors)
      : state_(state), dispatcher_(dispatcher), server_(server), config_(config), ini_(ini),
        fs_(fs), status_(status), log_(log), errors_(errors) {}

  // ReconnectTimer starts a new connection attempt with a fresh socket unless the
  // link is active. Does nothing while the Reconnect timer is disabled.
  void ReconnectTimer();
  void FilesyncSocketConnecting();
  // FilesyncSocketConnect reads InitialSync, sends the init text and checks the
  // working path: a missing sync folder closes the link instead of being created.
  void FilesyncSocketConnect();
  // FilesyncSocketDisconnect shows the link as down and ends an unfinished file
  // transfer (the receiver closes and removes the partial file).
  void FilesyncSocketDisconnect();
  // FilesyncSocketError logs the code, closes the link, enables Reconnect and
  // hands the error to the application's error reporting (an error box that the
  // main window closes by itself while the link is down).
  void FilesyncSocketError(int code);
  // Connect1Click disconnects (and disables Reconnect) or connects (and enables it).
  void Connect1Click();

  // reconnectEnabled is the Reconnect timer's enabled state. The platform runs
  // the 10 s timer and calls ReconnectTimer; while it is false the tick is idle.
  bool reconnectEnabled() const { return reconnectEnabled_; }

 private:
  void connect();
  void sendInitText();
  void prepareWorkingPath();

  ProtocolState& state_;
  Dispatcher& dispatcher_;
  ServerLink& server_;
  ConfigStore& config_;
  IniFile& ini_;
  FileSystem& fs_;
  StatusView& status_;
  Log& log_;
  ErrorReporter& errors_;
  bool reconnectEnabled_ = true;
};

}  // namespace kq
