#pragma once
// WatcherListener is the service's side of the watcher link on POSIX: it
// listens on 127.0.0.1 (or on a UNIX-domain socket) and serves every client of
// the same user that connects through a NotificationHub, which paces the
// messages to each; a connection from another user's process is closed at
// once, before anything is sent. When a client goes away the service keeps
// running and serves the next connection.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/event_loop.h"
#include "watcher/notification_hub.h"

namespace kq {

class Log;

// PeerUnread tells how many bytes sent on a loopback TCP connection its local
// peer has not read yet: those still in fd's send queue plus those waiting in
// the peer's receive queue, from the kernel's socket table (sock_diag). The
// peer's socket is looked up and the netlink socket opened once, for the
// connection; each question is then one ioctl, one request and one answer.
class PeerUnread {
 public:
  explicit PeerUnread(int fd);
  ~PeerUnread();
  PeerUnread(const PeerUnread&) = delete;
  PeerUnread& operator=(const PeerUnread&) = delete;
  // count is nullopt when the kernel cannot tell. On a UNIX-domain socket it
  // tells only that the peer read everything (0).
  std::optional<std::size_t> count();

 private:
  struct Request;
  int fd_;
  bool unixSocket_ = false;  // a UNIX-domain socket: only "all read" can be told
  int netlink_ = -1;
  std::unique_ptr<Request> request_;
};

class WatcherListener {
 public:
  static constexpr int kWatcherPort = 11111;

  WatcherListener(EventLoop& loop, NotificationHub& hub, Log& log);
  ~WatcherListener();
  WatcherListener(const WatcherListener&) = delete;
  WatcherListener& operator=(const WatcherListener&) = delete;

  // listen binds 127.0.0.1:port; false (with a log line) when it cannot.
  [[nodiscard]] bool listen(int port = kWatcherPort);
  // listenAt binds the UNIX-domain socket path, in a folder of mode 0700 that
  // belongs to this user (made when missing); false (with a log line) when it
  // cannot: another zrservice listens there, or the folder is not the user's
  // own. The socket file goes when the listener does.
  [[nodiscard]] bool listenAt(const std::string& socketPath);
  // pump lets the hub send what may go now and schedules the next try.
  void pump();

 private:
  class Connection;
  void acceptClient();
  void onClientEvent(int fd, short revents);
  void dropClient(int fd, const char* why);

  EventLoop& loop_;
  NotificationHub& hub_;
  Log& log_;
  int listenFd_ = -1;
  std::string socketPath_;  // the socket file to remove at the end
  std::map<int, std::unique_ptr<Connection>> clients_;
  EventLoop::TimerId pumpTimer_ = 0;
};

}  // namespace kq
