#pragma once
// ChangeTracker holds what waits between a watcher report and the server's
// RQCHG: the three change queues, the echo lists (serverQueue, blockedPaths),
// pendingOldName and serverBusy, with the admission rules for watcher reports
// and the change timer's work. Plain in-memory state; every decision is logged.
#include <cstddef>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tracking/path_queue.h"
#include "tracking/server_echoes.h"
#include "tracking/touched_paths.h"
#include "transfer/unsynced_names.h"

namespace kq {

class Log;
class StatusView;
class ExceptionFilter;
class FileSystem;

struct RenameEntry {
  std::string oldPath;
  std::string newPath;
  bool operator==(const RenameEntry&) const = default;
};

class ChangeTracker {
 public:
  ChangeTracker(Log& log, StatusView& status, ExceptionFilter& filter, FileSystem& fs)
      : unsynced(log, status), log_(log), status_(status), filter_(filter), fs_(fs) {}

  // kMaxServerPaths bounds serverQueue; the oldest entry goes first. A path
  // announced again keeps its one entry.
  static constexpr std::size_t kMaxServerPaths = 10000;

  // handleWatcherChange applies the admission rules to one watcher report:
  // action 1 added, 2 removed, 3 modified, 4 rename old name, 5 rename new name;
  // other actions are ignored. Temporary files of a transfer (".kqpart") are
  // never queued; a rename from one is the arrival of the new name's content.
  void handleWatcherChange(int action, const std::string& path);
  // onFullLookWanted is called for action 0 with the sync folder as its path:
  // the watcher lost reports (its queue overflowed) and asks for a full look
  // at the folder. isSyncFolder tells the client's own folder from another's.
  std::function<void()> onFullLookWanted;
  std::function<bool(const std::string& path)> isSyncFolder;

  // addServerPath records a path the server is writing now (announced, not yet
  // complete): reports of it are echoes until noteServerWriteDone.
  void addServerPath(const std::string& path);
  // noteServerWriteDone: the server's file at localPath is complete; the tracker
  // remembers its size and modification time, and a report of it is an echo
  // only while the file still has exactly those.
  void noteServerWriteDone(const std::string& localPath);
  // noteServerRemoval: the client removes localPath for the server; a report of
  // its removal is an echo while nothing stands there.
  void noteServerRemoval(const std::string& localPath);
  // noteServerReplacement: the client removes localPath to put the server's
  // item of the other kind there; a report of its removal is an echo.
  void noteServerReplacement(const std::string& localPath);
  void addBlockedPath(const std::string& fragment) {
    blockedPaths.push_back(fragment);
    touched.add(fragment);  // the full path of an item the server moves or removes
  }
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

  // reportDeletedReceived queues the deletion of each file received whole
  // since the server last asked for a listing that is gone now (one log line
  // each): without the watcher nobody else reports it, and a listing that
  // lacks a file no listing showed tells the server nothing. Returns how many.
  std::size_t reportDeletedReceived();
  // onListingAsked runs when the server asks for a listing: the deletions
  // found now are queued; the listing shows the server the rest.
  void onListingAsked();

  // dropDeletionsOfPresentPaths forgets queued deletions of paths that exist
  // (the sync folder came back with them); each is logged.
  void dropDeletionsOfPresentPaths();

  // onServerRoundFinished runs for every member of an RQFLS body; key is the
  // member's key in quoted JSON form ("\"time\"" logs the queue sizes).
  void onServerRoundFinished(const std::string& key);
  // resetServerQueueIfIdle is the last step of the change timer: it empties
  // serverQueue when the server is not busy and no deletion was pending at the
  // start of the tick (deleteQueueSizeAtStart); such an idle tick is also a
  // round of waiting for the reports of the server's removals.
  void resetServerQueueIfIdle(std::size_t deleteQueueSizeAtStart);

  PathQueue modificationQueue;
  PathQueue deleteQueue;
  std::deque<RenameEntry> renameQueue;
  PathQueue serverQueue;
  std::vector<std::string> blockedPaths;
  std::string pendingOldName;
  bool serverBusy = false;
  // serverEchoes holds what the client finished writing or removed for the server.
  ServerEchoes serverEchoes;
  // unsynced reports the reported items that are never synchronised (a link, a
  // FIFO, a device): they are not queued, and neither is their removal.
  UnsyncedNames unsynced;
  // touched: the paths changed since the list of known files was last saved.
  TouchedPaths touched;

 private:
  void handleFullLook(const std::string& folder);
  void handleOldName(const std::string& path);
  void handleNewName(const std::string& path);
  void handleModification(const std::string& path);
  void handleDeletion(const std::string& path);
  void appendRename(const std::string& path);
  void dropPendingDeletion(const std::string& path);
  bool isWriteEcho(const std::string& path);
  bool isRemovalEcho(const std::string& path);
  bool isUnsyncedItem(const std::string& path);
  void rememberReceived(const std::string& localPath);

  Log& log_;
  StatusView& status_;
  ExceptionFilter& filter_;
  FileSystem& fs_;
  // renameFromPartial_: the armed old name was a transfer's temporary file.
  bool renameFromPartial_ = false;
  // The files received whole since the server last asked for a listing.
  std::set<std::string> receivedSinceListing_;
};

}  // namespace kq
