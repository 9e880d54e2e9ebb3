#pragma once
// ChangeReporter turns the changes a watcher sees into WatcherNotification
// messages for the client: one ASCII digit (the ChangeAction) followed by the
// full local path text. Only paths inside the sync folder are reported; its
// "_log", "_config" and "_trash" folders count as outside, so a rename across
// that border is a removal or an addition; so do the temporary files of a
// transfer (names ending in ".kqpart"), so a rename from one is an addition,
// except the rename of "<name>.kqpart" over "<name>": that is the client
// putting a received file in place, and it is not reported.
//
// Removals wait: a folder that is deleted as a whole loses its content first
// and itself last, and the content's removals must not go out as the user's
// deletions. Once a removal waits, every later report waits behind it (the
// order stays); they all go out when the platform calls flushHeld (no removal
// for kRemovalHoldMs), or are dropped with dropHeld when the sync folder
// itself has gone. At most kMaxHeld reports wait; past that the oldest go out.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace kq {

class NotificationSink;

enum class ChangeAction : char {
  Added = '1',
  Removed = '2',
  Modified = '3',
  RenamedOld = '4',
  RenamedNew = '5',
  // Rescan asks the client for a full look at the sync folder (the path is the
  // sync folder itself): the reports that should have told it were lost.
  Rescan = '0',
};

// buildWatcherNotification is the message: the action digit, then the path.
std::string buildWatcherNotification(ChangeAction action, const std::string& path);

// WatchScope decides which local paths belong to the sync folder.
class WatchScope {
 public:
  // syncFolder is local path text; trailing backslashes are ignored.
  explicit WatchScope(std::string syncFolder);
  // contains is true for a path below the sync folder that is not in one of
  // its own folders "_log", "_config" and "_trash" (or one of those folders)
  // and is not the temporary file of a transfer.
  bool contains(const std::string& path) const;
  const std::string& syncFolder() const { return root_; }

 private:
  std::string root_;
};

class ChangeReporter {
 public:
  static constexpr int kRemovalHoldMs = 1500;
  static constexpr std::size_t kMaxHeld = 100000;

  ChangeReporter(WatchScope scope, NotificationSink& out) : scope_(std::move(scope)), out_(out) {}

  // onRemovalHeld is called whenever a removal starts or extends the wait; the
  // platform then calls flushHeld kRemovalHoldMs later. Without it nothing waits.
  std::function<void()> onRemovalHeld;
  // flushHeld sends every waiting report, in order.
  void flushHeld();
  // dropHeld forgets the waiting reports (the sync folder is gone); returns their count.
  std::size_t dropHeld();
  std::size_t held() const { return held_.size(); }

  void added(const std::string& path);
  void removed(const std::string& path);
  void modified(const std::string& path);
  // renamed reports 4 + 5 inside the scope, a removal when the new path is
  // outside, an addition when the old path was outside, nothing when both are.
  void renamed(const std::string& oldPath, const std::string& newPath);
  const WatchScope& scope() const { return scope_; }

 private:
  void report(ChangeAction action, const std::string& path);

  WatchScope scope_;
  NotificationSink& out_;
  std::deque<std::string> held_;
};

}  // namespace kq
