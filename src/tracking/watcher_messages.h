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

class FileSystem;
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

// WatcherCheck is what a report is held against before it is queued: anyone
// on the machine can send to the watcher's port, so a report is believed only
// where the disk agrees with it.
enum class WatcherCheck {
  Agrees,         // the report may be queued
  OutsideFolder,  // the path is not in the sync folder: another folder's watcher
  StillThere,     // a removal (2) or a rename's old name (4) of an item that is there
  NotThere,       // an addition (1), modification (3) or new name (5) of an item that is not there
};

// checkWatcherReport holds a parsed report against the sync folder (local path
// text, no trailing separator) and the disk as it is now. Other digits agree:
// the change tracker ignores them.
WatcherCheck checkWatcherReport(FileSystem& fs, const std::string& syncFolder, const WatcherNotification& report);

class WatcherMessages {
 public:
  using Handler = std::function<void(int action, const std::string& path)>;
  using Checker = std::function<WatcherCheck(const WatcherNotification&)>;
  // handle is called once per accepted message (the change tracker's
  // handleWatcherChange); check, when given, first holds it against the disk:
  // a report the disk contradicts is logged and dropped, one from outside the
  // sync folder is dropped with one line per connection that names nothing.
  WatcherMessages(Log& log, Handler handle, Checker check = {})
      : log_(log), handle_(std::move(handle)), check_(std::move(check)) {}

  // ClientSocket1Connect logs "Connected to service!".
  void ClientSocket1Connect();
  // ClientSocket1Read handles every message of one read; a message whose handling
  // fails logs "Error in ClientSocket1Read()" and the others are still handled.
  void ClientSocket1Read(std::string_view bytes);

 private:
  void handleMessage(std::string_view message);

  bool admitted(const WatcherNotification& report);

  Log& log_;
  Handler handle_;
  Checker check_;
  bool outsideTold_ = false;
};

}  // namespace kq
