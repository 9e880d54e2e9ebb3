#pragma once
// NotificationHub serves every connected client: each connection gets its own
// NotificationSender (own queue, own pacing), and every message goes to all of
// them. While no client is connected the messages wait in a backlog that the
// next client receives; the messages a last client left unread go back there.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "watcher/notification_sender.h"

namespace kq {

class NotificationHub : public NotificationSink {
 public:
  // rescanMessage is what the queues put in place of their reports when they
  // overflow (see ReportQueue).
  NotificationHub(Log& log, std::string rescanMessage)
      : log_(log), rescan_(std::move(rescanMessage)), backlog_(log, rescan_) {}

  void push(std::string message) override;
  // attach starts serving a new connection.
  void attach(NotificationChannel& channel);
  // detach stops serving a connection that ended.
  void detach(NotificationChannel& channel);
  // pump lets every connection send what may go now; the milliseconds until
  // the next call, -1 when nothing waits. Connections whose send failed are
  // detached and listed by takeBroken().
  int pump(std::int64_t nowMs);
  std::vector<NotificationChannel*> takeBroken();

  std::size_t clients() const { return clients_.size(); }
  const std::deque<std::string>& backlog() const { return backlog_.waiting(); }

 private:
  struct Client {
    NotificationChannel* channel;
    std::unique_ptr<NotificationSender> sender;
  };

  Log& log_;
  std::string rescan_;
  NotificationSender backlog_;  // never attached: holds messages while no client is there
  std::vector<Client> clients_;
  std::vector<NotificationChannel*> broken_;
};

}  // namespace kq
