#include "watcher/notification_sender.h"

#include <algorithm>

namespace kq {

void NotificationSender::attach(NotificationChannel& channel) {
  detach();
  channel_ = &channel;
}

void NotificationSender::detach() {
  if (channel_ && !unread_.empty()) {
    // Unknown: everything not confirmed goes again (a repeat is harmless, a loss is not).
    if (auto unread = channel_->unreadBytes()) forgetRead(*unread);
    waiting_.pushFront(std::move(unread_));
  }
  unread_.clear();
  unreadBytes_ = 0;
  channel_ = nullptr;
}

// forgetRead drops the oldest sent messages that lie before the last unread bytes.
void NotificationSender::forgetRead(std::size_t unread) {
  while (!unread_.empty() && unreadBytes_ - unread_.front().size() >= unread) {
    unreadBytes_ -= unread_.front().size();
    unread_.pop_front();
  }
  if (unread == 0) {
    unread_.clear();
    unreadBytes_ = 0;
  }
}

int NotificationSender::makeRoom(std::int64_t nowMs) {
  if (unreadBytes_ == 0 || unreadBytes_ + waiting_.front().size() <= kMaxUnread) return 0;
  if (auto unread = channel_->unreadBytes()) {
    forgetRead(*unread);
    return unreadBytes_ == 0 || unreadBytes_ + waiting_.front().size() <= kMaxUnread ? 0 : kProbeIntervalMs;
  }
  std::int64_t since = nowMs - lastSendMs_;
  if (since >= 0 && since < kBlindGapMs) return static_cast<int>(kBlindGapMs - since);
  forgetRead(0);  // the client has had its time to read
  return 0;
}

// batchLimit is the most the next batch may hold: what the budget leaves, at
// most kMaxBatch, and no more than the client's window takes now; 0 to wait.
std::size_t NotificationSender::batchLimit() {
  std::size_t front = waiting_.front().size();
  std::size_t limit = std::min(kMaxBatch, kMaxUnread - std::min(unreadBytes_, kMaxUnread));
  auto room = channel_->room();
  if (room) limit = std::min(limit, *room);
  if (front <= limit) return limit;
  // A message longer than a batch goes alone, once all is read and the window is wide open.
  bool wide = !room || *room >= kMaxBatch;
  return front > kMaxBatch && unreadBytes_ == 0 && wide ? front : 0;
}

int NotificationSender::pump(std::int64_t nowMs) {
  if (!channel_ || waiting_.empty()) return -1;
  if (int wait = makeRoom(nowMs); wait > 0) return wait;
  std::size_t limit = batchLimit();
  if (limit == 0) return kProbeIntervalMs;  // the client's window is still closed
  std::string batch;
  std::deque<std::string> sent;
  while (!waiting_.empty() && batch.size() + waiting_.front().size() <= limit) {
    batch += waiting_.front();
    sent.push_back(waiting_.front());
    waiting_.pop();
  }
  if (!channel_->send(batch)) {
    // The connection broke: the batch waits for the next client with whatever it had not read.
    for (auto& m : sent) unread_.push_back(std::move(m));
    waiting_.pushFront(std::move(unread_));
    unread_.clear();
    unreadBytes_ = 0;
    channel_ = nullptr;
    return -1;
  }
  for (auto& m : sent) unread_.push_back(std::move(m));
  unreadBytes_ += batch.size();
  lastSendMs_ = nowMs;
  return waiting_.empty() ? -1 : 0;
}

}  // namespace kq
