#pragma once
// NotificationSender holds the watcher's messages until the client has taken
// them. The client cuts what one read brings into messages (each starts with
// its action digit and a drive letter), so messages go out back to back, many
// in one send, with no gap. What must never happen is a read that ends inside
// a message: the client reads at most kReadSize bytes at a time, so no more
// than kMaxUnread bytes (well below that) are ever sent that the client may
// not have read yet. Only when that budget is spent is the connection asked
// how much is still unread (on Linux the kernel's socket table: a few system
// calls per budget, not per message); a channel that cannot tell is given
// kBlindGapMs after its last send instead. A batch must also reach the client
// in one piece: one the client's receive window cannot take whole leaves part
// of it in the send queue, and a read taken meanwhile ends inside a message.
// So a batch is at most kMaxBatch bytes (one segment on the loopback link) and
// goes only once the window has room for it, where the channel can tell.
// The waiting messages are a
// ReportQueue: repeats merged, bounded, an overflow turned into a request for
// a full look. With no client connected they wait for the next one.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "watcher/report_queue.h"

namespace kq {

class Log;

// NotificationChannel is one client connection.
class NotificationChannel {
 public:
  virtual ~NotificationChannel() = default;
  // send writes the bytes whole; false when the connection broke.
  [[nodiscard]] virtual bool send(std::string_view bytes) = 0;
  // unreadBytes is how many of the bytes sent the client has not read yet;
  // nullopt when the channel cannot tell.
  virtual std::optional<std::size_t> unreadBytes() = 0;
  // room is how many more bytes the client's receive window takes now;
  // nullopt when the channel cannot tell.
  virtual std::optional<std::size_t> room() { return std::nullopt; }
};

// NotificationSink takes the messages of a ChangeReporter.
class NotificationSink {
 public:
  virtual ~NotificationSink() = default;
  virtual void push(std::string message) = 0;
};

class NotificationSender : public NotificationSink {
 public:
  static constexpr std::size_t kMaxUnread = 64 * 1024;
  static constexpr std::size_t kMaxBatch = 32 * 1024;
  static constexpr int kBlindGapMs = 25;
  static constexpr int kProbeIntervalMs = 1;

  NotificationSender(Log& log, std::string rescanMessage) : waiting_(log, std::move(rescanMessage)) {}

  // push queues one message.
  void push(std::string message) override { waiting_.push(std::move(message)); }
  // adopt puts messages that waited elsewhere in front of the own ones.
  void adopt(std::deque<std::string> messages) { waiting_.pushFront(std::move(messages)); }
  // takeWaiting hands over every message not sent yet.
  std::deque<std::string> takeWaiting() { return waiting_.takeAll(); }
  // attach starts serving a new client connection (replacing any other).
  void attach(NotificationChannel& channel);
  // detach ends the current connection; the messages it may not have read are
  // put back in front, to go to the next client.
  void detach();
  bool attached() const { return channel_ != nullptr; }
  // pump sends what may go now. It returns the milliseconds after which it
  // wants to be called again (0: at once), or -1 when it waits for nothing but
  // new messages.
  int pump(std::int64_t nowMs);

  const std::deque<std::string>& waiting() const { return waiting_.messages(); }

 private:
  // makeRoom learns how much of what was sent is still unread once the budget
  // does not hold the next message; the milliseconds to wait, or 0 to send.
  int makeRoom(std::int64_t nowMs);
  void forgetRead(std::size_t unread);
  std::size_t batchLimit();

  ReportQueue waiting_;
  NotificationChannel* channel_ = nullptr;
  // unread_: messages sent that the client may not have read, oldest first,
  // unreadBytes_ their size.
  std::deque<std::string> unread_;
  std::size_t unreadBytes_ = 0;
  std::int64_t lastSendMs_ = 0;
};

}  // namespace kq
