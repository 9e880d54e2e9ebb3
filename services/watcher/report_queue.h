#pragma once
// ReportQueue holds the watcher's messages that wait for a client, oldest
// first, and keeps that wait cheap and bounded:
// - a report that says again what the newest waiting report of the same path
//   says is dropped (an addition or a modification after an addition or a
//   modification, a removal after a removal): the client handles them alike,
//   and no report of that path stands between them. Renames are never merged.
// - at most kMaxWaiting messages wait. A report that would be one more does
//   not push an older one out silently: every waiting report is dropped and
//   replaced by one request for a full look at the sync folder (the rescan
//   message: the digit '0' followed by the sync folder, in the format of every
//   other message), which the client answers by comparing the whole folder
//   with what it knew; the new report waits behind it. One log line tells.
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace kq {

class Log;

class ReportQueue {
 public:
  static constexpr std::size_t kMaxWaiting = 200000;
  static constexpr char kRescanAction = '0';

  // rescanMessage is what replaces the reports of an overflow.
  ReportQueue(Log& log, std::string rescanMessage) : log_(log), rescan_(std::move(rescanMessage)) {}

  void push(std::string message);
  // pushFront puts messages back in front (in their order), without merging.
  void pushFront(std::deque<std::string> messages);
  // takeAll hands over every waiting message.
  std::deque<std::string> takeAll();
  const std::string& front() const { return waiting_.front(); }
  void pop();
  bool empty() const { return waiting_.empty(); }
  std::size_t size() const { return waiting_.size(); }
  const std::deque<std::string>& messages() const { return waiting_; }
  const std::string& rescanMessage() const { return rescan_; }

 private:
  struct Newest {
    char action;
    std::size_t count;  // waiting messages of this path
  };
  void index(const std::string& message);
  void overflow();

  Log& log_;
  std::string rescan_;
  std::deque<std::string> waiting_;
  std::unordered_map<std::string, Newest> paths_;  // path -> its newest waiting report
};

}  // namespace kq
