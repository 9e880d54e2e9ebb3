#pragma once
// WatcherListenerWin32 is the service's TCP side on Windows: it listens on
// 127.0.0.1, serves one client at a time (a new connection replaces the old
// one) and lets a NotificationSender pace the messages to it. Windows cannot
// tell whether the client has read a message, so the sender's blind gap
// separates them. When the client goes away the service serves the next one.
#include <winsock2.h>

#include <memory>

#include "watcher/notification_sender.h"

namespace kq {

class Log;

class WatcherListenerWin32 {
 public:
  static constexpr int kWatcherPort = 11111;

  WatcherListenerWin32(NotificationSender& sender, Log& log);
  ~WatcherListenerWin32();
  WatcherListenerWin32(const WatcherListenerWin32&) = delete;
  WatcherListenerWin32& operator=(const WatcherListenerWin32&) = delete;

  // listen binds 127.0.0.1:port; false (with a log line) when it cannot.
  [[nodiscard]] bool listen(int port = kWatcherPort);
  // listenEvent and clientEvent are signalled by network events.
  HANDLE listenEvent() const { return listenEvent_; }
  HANDLE clientEvent() const { return clientEvent_; }
  void onListenEvent();
  void onClientEvent();
  // pump lets the sender send what may go now; returns the milliseconds after
  // which it wants to be called again, INFINITE when it waits for nothing.
  DWORD pump();

 private:
  class Connection;
  void dropClient(const char* why);

  NotificationSender& sender_;
  Log& log_;
  SOCKET listenSocket_ = INVALID_SOCKET;
  HANDLE listenEvent_;
  HANDLE clientEvent_;
  std::unique_ptr<Connection> client_;
};

}  // namespace kq
