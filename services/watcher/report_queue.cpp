#include "watcher/report_queue.h"

#include "log/log.h"

namespace kq {

namespace {

std::string pathOf(const std::string& message) { return message.empty() ? message : message.substr(1); }

// sameMeaning: the client handles a report of action b after one of action a alike.
bool sameMeaning(char a, char b) {
  auto writes = [](char c) { return c == '1' || c == '3'; };
  return (writes(a) && writes(b)) || (a == '2' && b == '2');
}

}  // namespace

void ReportQueue::push(std::string message) {
  if (message.empty()) return;
  auto it = paths_.find(pathOf(message));
  if (it != paths_.end() && sameMeaning(it->second.action, message[0])) return;
  if (waiting_.size() >= kMaxWaiting) overflow();
  index(message);
  waiting_.push_back(std::move(message));
}

void ReportQueue::index(const std::string& message) {
  auto& newest = paths_.try_emplace(pathOf(message), Newest{message[0], 0}).first->second;
  newest.action = message[0];
  ++newest.count;
}

void ReportQueue::overflow() {
  log_.writeLog("Too many change reports wait (" + std::to_string(waiting_.size()) +
                    "): they are replaced by a request for a full look at the sync folder",
                true);
  waiting_.clear();
  paths_.clear();
  index(rescan_);
  waiting_.push_back(rescan_);
}

void ReportQueue::pushFront(std::deque<std::string> messages) {
  for (auto& m : waiting_) messages.push_back(std::move(m));
  waiting_.clear();
  paths_.clear();
  bool overflowed = messages.size() > kMaxWaiting;
  if (overflowed) {
    log_.writeLog("Too many change reports wait (" + std::to_string(messages.size()) +
                      "): they are replaced by a request for a full look at the sync folder",
                  true);
    messages.clear();
    messages.push_back(rescan_);
  }
  for (auto& m : messages) index(m);
  waiting_ = std::move(messages);
}

std::deque<std::string> ReportQueue::takeAll() {
  auto out = std::move(waiting_);
  waiting_.clear();
  paths_.clear();
  return out;
}

void ReportQueue::pop() {
  auto it = paths_.find(pathOf(waiting_.front()));
  if (it != paths_.end() && --it->second.count == 0) paths_.erase(it);
  waiting_.pop_front();
}

}  // namespace kq
