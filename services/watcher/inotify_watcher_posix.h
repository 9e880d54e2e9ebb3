#pragma once
// InotifyWatcher watches the sync folder and every folder below it with
// inotify and reports what changes to a ChangeReporter, as local path text.
// New folders are watched as they appear and scanned, so that files created in
// them before their watch was added are reported too. Moves are paired by
// their cookie; a half without partner is a move across the folder's border.
//
// A sync folder that is moved away, deleted or unmounted is not reported as
// emptied: removals wait a moment (see ChangeReporter) and are dropped when
// the folder itself goes; every second the watcher checks that its path still
// names the folder it watches. It then waits for the folder to come back and
// watches it again without reporting anything for the time it was away.
//
// A file being written is reported once: when it is closed after writing, or
// once no write has come for kQuietMs (a file held open by its writer). A new
// file that is written is reported as added then, not as added and modified.
// Any other change of the path (removal, rename) first reports the write.
//
// A link is never watched nor walked into: every folder is opened one name at
// a time from the sync folder with O_NOFOLLOW, its watch is added to that open
// folder and its content read from it, so a folder swapped for a link while
// the watcher walks never leads it outside.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/posix/event_loop.h"
#include "watcher/quiet_writes.h"
#include "watcher/rename_pairer.h"

namespace kq {

class ChangeReporter;
class Log;

class InotifyWatcher {
 public:
  // kUnpairedMoveMs is how long an old name waits for its new name.
  static constexpr int kUnpairedMoveMs = 10;
  static constexpr int kRootRetryMs = 1000;
  static constexpr int kQuietMs = QuietWrites::kQuietMs;
  static constexpr int kQuietCheckMs = 250;

  // nativeRoot is the real folder; localRoot the same folder as local path text,
  // which starts every reported path.
  InotifyWatcher(EventLoop& loop, std::string nativeRoot, std::string localRoot,
                 ChangeReporter& reporter, Log& log);
  ~InotifyWatcher();
  InotifyWatcher(const InotifyWatcher&) = delete;
  InotifyWatcher& operator=(const InotifyWatcher&) = delete;

  // start begins watching; while the folder is missing it tries again every second.
  [[nodiscard]] bool start();
  bool watching() const { return rootWd_ >= 0; }

  // onFolderRead is called with each real folder once its entries are read,
  // before the folders below it are watched (tests change the tree there).
  std::function<void(const std::string& folder)> onFolderRead;

 private:
  void onRootTimer();
  void tryWatchRoot();
  void checkRoot();
  void rootLost(const std::string& why);
  // watchTree watches folder and everything below it; with report set, every
  // entry found below it is reported as added.
  void watchTree(const std::string& folder, bool report);
  // walkOpen watches the folder open as fd (its real path folder) and what is
  // below it; with watch unset it only reports the entries.
  void walkOpen(int fd, const std::string& folder, bool watch, bool report);
  // addWatch watches the folder open as fd; the watch descriptor or -1.
  int addWatch(int fd, const std::string& folder);
  // openBelowRoot opens folder, the sync folder or a real folder below it, one
  // name at a time without following a link; -1 when it cannot.
  int openBelowRoot(const std::string& folder) const;
  void reportContent(const std::string& folder);
  void dropTree(const std::string& folder);
  void moveTree(const std::string& from, const std::string& to);
  void readEvents();
  void handleEvent(std::uint32_t mask, std::uint32_t cookie, int wd, const char* name);
  void handleMovedTo(const std::string& path, std::uint32_t cookie, bool isFolder);
  void flushUnpaired();
  // Files being written: noteWrite records a write (added: the file is new),
  // reportClosed reports the write of a file closed after writing,
  // reportWritesBelow those at or below a path, reportQuietWrites those
  // without a write for kQuietMs.
  void noteWrite(const std::string& path, bool added);
  void reportClosed(const std::string& path);
  void reportWritesBelow(const std::string& path);
  void reportQuietWrites();
  void report(const QuietWrites::Write& write);
  std::string local(const std::string& native) const;
  // holdable is false when a name in native lies outside the code page of local text.
  bool holdable(const std::string& native) const;

  EventLoop& loop_;
  std::string nativeRoot_;
  std::string localRoot_;
  ChangeReporter& reporter_;
  Log& log_;
  int fd_ = -1;
  int rootWd_ = -1;
  std::unordered_map<int, std::string> folders_;  // watch descriptor -> real folder
  RenamePairer pairer_;
  EventLoop::TimerId unpairedTimer_ = 0;
  EventLoop::TimerId rootTimer_ = 0;
  EventLoop::TimerId holdTimer_ = 0;
  EventLoop::TimerId quietTimer_ = 0;
  QuietWrites writing_;  // real paths with an unreported write
  bool missingLogged_ = false;
  bool procMissingLogged_ = false;
  dev_t rootDevice_ = 0;  // identity of the watched folder
  ino_t rootInode_ = 0;
};

}  // namespace kq
