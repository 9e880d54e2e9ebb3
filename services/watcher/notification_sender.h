#pragma once
// NotificationSender holds the watcher's messages until the client has taken
// them, and paces the sends. The client reads one message per TCP read, so two
// messages must never wait in its socket together: a message goes out only
// after the client has read the previous one (the channel can tell, on Linux
// from the kernel's socket table), and at least kMinGapMs after it. Where the
// channel cannot tell, a gap of kBlindGapMs stands in. Identical messages that
// wait back to back are merged; nothing else is dropped while a client is
// connected. With no client connected the messages wait for the next one, up to
// kMaxWaiting (the oldest go first, with a log line).
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace kq {

class Log;

enum class ReadProbe { Read, Unread, Unknown };

// NotificationChannel is one client connection.
class NotificationChannel {
 public:
  virtual ~NotificationChannel() = default;
  // send writes one whole message; false when the connection broke.
  [[nodiscard]] virtual bool send(std::string_view message) = 0;
  // probeRead tells whether the client has read everything sent so far.
  virtual ReadProbe probeRead() = 0;
};

// NotificationSink takes the messages of a ChangeReporter.
class NotificationSink {
 public:
  virtual ~NotificationSink() = default;
  virtual void push(std::string message) = 0;
};

class NotificationSender : public NotificationSink {
 public:
  static constexpr int kMinGapMs = 2;
  static constexpr int kBlindGapMs = 25;
  static constexpr int kProbeIntervalMs = 1;
  static constexpr std::size_t kMaxWaiting = 10000;

  explicit NotificationSender(Log& log) : log_(log) {}

  // push queues one message.
  void push(std::string message) override;
  // adopt puts messages that waited elsewhere in front of the own ones.
  void adopt(std::deque<std::string> messages);
  // takeWaiting hands over every message not sent yet.
  std::deque<std::string> takeWaiting();
  // attach starts serving a new client connection (replacing any other).
  void attach(NotificationChannel& channel);
  // detach ends the current connection; a message it may not have read is sent again.
  void detach();
  bool attached() const { return channel_ != nullptr; }
  // pump sends what may go now. It returns the milliseconds after which it
  // wants to be called again, or -1 when it waits for nothing but new messages.
  int pump(std::int64_t nowMs);

  const std::deque<std::string>& waiting() const { return waiting_; }

 private:
  Log& log_;
  NotificationChannel* channel_ = nullptr;
  std::deque<std::string> waiting_;
  std::string lastSent_;
  bool awaitingRead_ = false;
  std::int64_t lastSendMs_ = 0;
  bool overflowLogged_ = false;
};

}  // namespace kq
