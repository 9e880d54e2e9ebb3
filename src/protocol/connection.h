#pragma once
// ServerConnection holds the lifecycle handlers of the server link: the
// Reconnect timer, the socket's connecting, connect, disconnect and error
// events, and the Connect1 menu item ("Connect" / "Disconnect"). It also
// watches a connected link for silence: a server that has sent nothing for
// timers::kServerSilenceMs while the client waits for it is taken for dead.
#include <cstdint>
#include <string>

#include "protocol/request_handler.h"

namespace kq {

class ConfigStore;
class Clock;
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
                   Log& log, ErrorReporter& errors, Clock& clock)
      : state_(state), dispatcher_(dispatcher), server_(server), config_(config), ini_(ini),
        fs_(fs), status_(status), log_(log), errors_(errors), clock_(clock) {}

  // ReconnectTimer starts a new connection attempt with a fresh socket unless the
  // link is active; an active link that has been silent too long is closed
  // (with a log line saying so) and the next tick connects anew. Does nothing
  // while the Reconnect timer is disabled.
  void ReconnectTimer();
  // readEventBegins and readEventEnds frame one read event of the server link:
  // bytes arrived, and the client's answers to them have gone out. The silence
  // clock does not run in between (a long folder walk is the client's time,
  // not the server's), and starts again from the end of the event.
  void readEventBegins();
  void readEventEnds();
  // ReadEvent frames one read event for its scope, however the scope is left.
  class ReadEvent {
   public:
    explicit ReadEvent(ServerConnection& connection) : connection_(connection) {
      connection_.readEventBegins();
    }
    ~ReadEvent() { connection_.readEventEnds(); }
    ReadEvent(const ReadEvent&) = delete;
    ReadEvent& operator=(const ReadEvent&) = delete;

   private:
    ServerConnection& connection_;
  };
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
  // silentTooLong is true when the active link has not been heard from for
  // kServerSilenceMs outside a read event; returns the silence in seconds.
  bool silentTooLong(std::int64_t& seconds);
  void noteHeard();

  ProtocolState& state_;
  Dispatcher& dispatcher_;
  ServerLink& server_;
  ConfigStore& config_;
  IniFile& ini_;
  FileSystem& fs_;
  StatusView& status_;
  Log& log_;
  ErrorReporter& errors_;
  Clock& clock_;
  bool reconnectEnabled_ = true;
  bool inReadEvent_ = false;
  std::int64_t heardAtMs_ = 0;  // end of the last read event, or the connect
};

}  // namespace kq
