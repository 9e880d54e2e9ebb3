#include "watcher/notification_sender.h"

#include "log/log.h"

namespace kq {

void NotificationSender::push(std::string message) {
  if (!waiting_.empty() && waiting_.back() == message) return;  // a repeat that was not sent yet
  if (waiting_.size() >= kMaxWaiting) {
    waiting_.pop_front();
    if (!overflowLogged_)
      log_.writeLog("No client is reading: the oldest change reports are dropped", true);
    overflowLogged_ = true;
  }
  waiting_.push_back(std::move(message));
}

void NotificationSender::adopt(std::deque<std::string> messages) {
  for (auto& m : waiting_) messages.push_back(std::move(m));
  waiting_ = std::move(messages);
  while (waiting_.size() > kMaxWaiting) waiting_.pop_front();
}

std::deque<std::string> NotificationSender::takeWaiting() {
  auto out = std::move(waiting_);
  waiting_.clear();
  return out;
}

void NotificationSender::attach(NotificationChannel& channel) {
  detach();
  channel_ = &channel;
  awaitingRead_ = false;
  overflowLogged_ = false;
}

void NotificationSender::detach() {
  if (channel_ && awaitingRead_ && channel_->probeRead() != ReadProbe::Read)
    waiting_.push_front(lastSent_);
  channel_ = nullptr;
  awaitingRead_ = false;
}

int NotificationSender::pump(std::int64_t nowMs) {
  if (!channel_ || waiting_.empty()) return -1;
  std::int64_t gap = kMinGapMs;
  if (awaitingRead_) {
    switch (channel_->probeRead()) {
      case ReadProbe::Unread: return kProbeIntervalMs;
      case ReadProbe::Unknown: gap = kBlindGapMs; break;
      case ReadProbe::Read: break;
    }
  }
  std::int64_t since = nowMs - lastSendMs_;
  if (awaitingRead_ && since < gap) return static_cast<int>(gap - since);
  lastSent_ = std::move(waiting_.front());
  waiting_.pop_front();
  lastSendMs_ = nowMs;
  awaitingRead_ = true;
  if (!channel_->send(lastSent_)) {
    // The connection broke: keep the message for the next client.
    waiting_.push_front(lastSent_);
    channel_ = nullptr;
    awaitingRead_ = false;
    return -1;
  }
  return waiting_.empty() ? -1 : kMinGapMs;
}

}  // namespace kq
