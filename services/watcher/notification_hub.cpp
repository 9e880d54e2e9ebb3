#include "watcher/notification_hub.h"

#include <algorithm>

namespace kq {

void NotificationHub::push(std::string message) {
  if (clients_.empty()) {
    backlog_.push(std::move(message));
    return;
  }
  for (auto& c : clients_) c.sender->push(message);
}

void NotificationHub::attach(NotificationChannel& channel) {
  auto sender = std::make_unique<NotificationSender>(log_, rescan_);
  sender->attach(channel);
  if (clients_.empty()) sender->adopt(backlog_.takeWaiting());
  clients_.push_back({&channel, std::move(sender)});
}

void NotificationHub::detach(NotificationChannel& channel) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [&](const Client& c) { return c.channel == &channel; });
  if (it == clients_.end()) return;
  it->sender->detach();  // a message it may not have read waits again
  auto left = it->sender->takeWaiting();
  clients_.erase(it);
  if (clients_.empty()) backlog_.adopt(std::move(left));
}

int NotificationHub::pump(std::int64_t nowMs) {
  int next = -1;
  for (std::size_t i = 0; i < clients_.size();) {
    int again = clients_[i].sender->pump(nowMs);
    if (!clients_[i].sender->attached()) {  // its send failed
      NotificationChannel* gone = clients_[i].channel;
      broken_.push_back(gone);
      detach(*gone);
      continue;
    }
    if (again >= 0 && (next < 0 || again < next)) next = again;
    ++i;
  }
  return next;
}

std::vector<NotificationChannel*> NotificationHub::takeBroken() {
  auto out = std::move(broken_);
  broken_.clear();
  return out;
}

}  // namespace kq
