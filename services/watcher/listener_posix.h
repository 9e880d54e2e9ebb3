#pragma once
// WatcherListener is the service's TCP side on POSIX: it listens on
// 127.0.0.1 and serves every client that connects through a NotificationHub,
// which paces the messages to each. When a client goes away the service keeps
// running and serves the next connection.
#include <map>
#include <memory>
#include <optional>

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
  // count is nullopt when the kernel cannot tell.
  std::optional<std::size_t> count();

 private:
  struct Request;
  int fd_;
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
  std::map<int, std::unique_ptr<Connection>> clients_;
  EventLoop::TimerId pumpTimer_ = 0;
};

}  // namespace kq
