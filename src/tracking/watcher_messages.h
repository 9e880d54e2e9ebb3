#pragma once
// The client end of the watcher-service link: ClientSocket1Connect and
// ClientSocket1Read turn what the watcher sends (an action digit followed by a
// full local path, no separator, no terminator) into handleWatcherChange calls.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

class Log;

struct WatcherNotification {
  int action = 0;    // ChangeAction: the value of the leading digit
  std::string path;  // the rest of the message, unchanged
  bool operator==(const WatcherNotification&) const = default;
};

// splitWatcherMessages cuts one read into messages. A message starts at the
// start of the read and at every later action digit that is followed by a drive
// letter, a colon and a backslash ("3C:\"). A path cannot hold that sequence
// (a colon never follows a letter inside a path), so digits in names never cut.
std::vector<std::string_view> splitWatcherMessages(std::string_view text);

// parseWatcherNotification checks one message: nullopt (dropped silently) when
// it holds two or more colons, is shorter than 5 bytes or does not start with a
// decimal digit.
std::optional<WatcherNotification> parseWatcherNotification(std::string_view message);

class WatcherMessages {
 public:
  using Handler = std::function<void(int action, const std::string& path)>;
  // handle is called once per accepted message (the change tracker's handleWatcherChange).
  WatcherMessages(Log& log, Handler handle) : log_(log), handle_(std::move(handle)) {}

  // ClientSocket1Connect logs "Connected to service!".
  void ClientSocket1Connect();
  // ClientSocket1Read handles every message of one read; a message whose handling
  // fails logs "Error in ClientSocket1Read()" and the others are still handled.
  void ClientSocket1Read(std::string_view bytes);

 private:
  void handleMessage(std::string_view message);

  Log& log_;
  Handler handle_;
};

}  // namespace kq
