#pragma once
// ChangeTracker holds what waits between a watcher report and the server's
// RQCHG: the three change queues, the echo lists (serverQueue, blockedPaths),
// pendingOldName and serverBusy, with the admission rules for watcher reports
// and the change timer's work. Plain in-memory state; every decision is logged.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kq {

class Log;
class StatusView;
class ExceptionFilter;
class FileSystem;

// ServerWrite is what a completed push left at a path.
struct ServerWrite {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  bool operator==(const ServerWrite&) const = default;
};

struct RenameEntry {
  std::string oldPath;
  std::string newPath;
  bool operator==(const RenameEntry&) const = default;
};

class ChangeTracker {
 public:
  ChangeTracker(Log& log, StatusView& status, ExceptionFilter& filter, FileSystem& fs)
      : log_(log), status_(status), filter_(filter), fs_(fs) {}

  // handleWatcherChange applies the admission rules to one watcher report:
  // action 1 added, 2 removed, 3 modified, 4 rename old name, 5 rename new name;
  // other actions are ignored, and so is every report of a file still being
  // received (its temporary name).
  void handleWatcherChange(int action, const std::string& path);

  void addServerPath(const std::string& path) { serverQueue.push_back(path); }
  // noteServerWriteDone records the size and modification time of a file that a
  // push has just completed at path; a newer record of the path replaces the
  // older one and the oldest records go beyond kMaxServerWrites.
  void noteServerWriteDone(const std::string& path);
  static constexpr std::size_t kMaxServerWrites = 4096;
  void addBlockedPath(const std::string& fragment) { blockedPaths.push_back(fragment); }
  void setServerBusy() { serverBusy = true; }
  // isServerPath: path equals an entry of serverQueue.
  bool isServerPath(const std::string& path) const;
  // isBlocked: some entry of blockedPaths occurs anywhere in path.
  bool isBlocked(const std::string& path) const;
  // isQueuedModification: path equals an entry of modificationQueue.
  bool isQueuedModification(const std::string& path) const;
  // appendModification queues path as modified. A deletion of the same path that
  // is still pending is dropped: the file exists again, and reporting the older
  // deletion after the new content would delete it on the server.
  void appendModification(const std::string& path);

  // onServerRoundFinished runs for every member of an RQFLS body; key is the
  // member's key in quoted JSON form ("\"time\"" logs the queue sizes).
  void onServerRoundFinished(const std::string& key);
  // resetServerQueueIfIdle is the last step of the change timer: it empties
  // serverQueue when the server is not busy and no deletion was pending at the
  // start of the tick (deleteQueueSizeAtStart).
  void resetServerQueueIfIdle(std::size_t deleteQueueSizeAtStart);

  std::deque<std::string> modificationQueue;
  std::deque<std::string> deleteQueue;
  std::deque<RenameEntry> renameQueue;
  std::vector<std::string> serverQueue;
  std::vector<std::string> blockedPaths;
  std::deque<ServerWrite> serverWrites;
  std::string pendingOldName;
  bool serverBusy = false;

 private:
  void handleOldName(const std::string& path);
  void handleNewName(const std::string& path);
  void handleModification(const std::string& path);
  void handleDeletion(const std::string& path);
  void appendRename(const std::string& path);
  void dropPendingDeletion(const std::string& path);

  Log& log_;
  StatusView& status_;
  ExceptionFilter& filter_;
  FileSystem& fs_;
};

}  // namespace kq
