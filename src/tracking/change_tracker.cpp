#include "tracking/change_tracker.h"

#include <algorithm>

#include "log/log.h"
#include "platform/file_system.h"
#include "platform/views.h"
#include "tracking/exception_filter.h"
#include "transfer/partial_file.h"

namespace kq {

bool ChangeTracker::isServerPath(const std::string& path) const { return serverQueue.contains(path); }

bool ChangeTracker::isBlocked(const std::string& path) const {
  for (const auto& fragment : blockedPaths)
    if (path.find(fragment) != std::string::npos) return true;
  return false;
}

bool ChangeTracker::isQueuedModification(const std::string& path) const {
  return modificationQueue.contains(path);
}

void ChangeTracker::addServerPath(const std::string& path) {
  touched.add(path);
  if (serverQueue.contains(path)) return;
  if (serverQueue.size() >= kMaxServerPaths) serverQueue.pop_front();
  serverQueue.push_back(path);
}

void ChangeTracker::noteServerWriteDone(const std::string& localPath) {
  touched.add(localPath);
  serverQueue.erase(localPath);
  serverEchoes.noteWritten(localPath, fs_.status(localPath));
  rememberReceived(localPath);
}

void ChangeTracker::rememberReceived(const std::string& localPath) {
  if (receivedSinceListing_.size() < ServerEchoes::kMaxRecords) receivedSinceListing_.insert(localPath);
}

std::size_t ChangeTracker::reportDeletedReceived() {
  std::size_t found = 0;
  for (auto it = receivedSinceListing_.begin(); it != receivedSinceListing_.end();) {
    if (!serverEchoes.goneSinceWritten(*it, fs_)) {
      ++it;
      continue;
    }
    log_.writeLog("Deleted after it was received from the server: " + *it, true);
    handleDeletion(*it);
    ++found;
    it = receivedSinceListing_.erase(it);
  }
  return found;
}

void ChangeTracker::onListingAsked() {
  reportDeletedReceived();
  receivedSinceListing_.clear();
}

void ChangeTracker::noteServerRemoval(const std::string& localPath) {
  touched.add(localPath);
  serverEchoes.noteRemoved(localPath);
}

void ChangeTracker::noteServerReplacement(const std::string& localPath) {
  touched.add(localPath);
  serverEchoes.noteReplaced(localPath);
}

// isWriteEcho: the server is writing path now, or path still holds exactly
// what the server's write left there.
bool ChangeTracker::isWriteEcho(const std::string& path) {
  return isServerPath(path) || serverEchoes.isWriteEcho(path, fs_);
}

// isRemovalEcho: the server's write of path is under way (its older copy is
// being replaced), or the client removed path for the server and it is still
// gone. A deletion of a file the server finished writing is the user's change.
bool ChangeTracker::isRemovalEcho(const std::string& path) {
  if (isServerPath(path) && !fs_.exists(path)) return true;
  return serverEchoes.isRemovalEcho(path, fs_);
}

void ChangeTracker::handleWatcherChange(int action, const std::string& path) {
  if (action != 0) touched.add(path);
  if (isPartialFileName(path)) {
    if (action == 4) {
      pendingOldName.clear();
      renameFromPartial_ = true;
    }
    return;
  }
  if (action == 5 && renameFromPartial_) {
    renameFromPartial_ = false;
    handleModification(path);
    return;
  }
  if (action == 4) renameFromPartial_ = false;
  switch (action) {
    case 0: handleFullLook(path); break;
    case 1:
    case 3: handleModification(path); break;
    case 2: handleDeletion(path); break;
    case 4: handleOldName(path); break;
    case 5: handleNewName(path); break;
    default: break;
  }
}

// handleFullLook: a request for another folder is dropped without a log line.
void ChangeTracker::handleFullLook(const std::string& folder) {
  if (!onFullLookWanted || !isSyncFolder || !isSyncFolder(folder)) return;
  log_.writeLog("The watcher lost change reports; the whole sync folder is compared with the known files", true);
  touched.markAll();
  onFullLookWanted();
}

// handleOldName arms pendingOldName; an old name is tested only against the filter.
void ChangeTracker::handleOldName(const std::string& path) {
  if (filter_.isExcluded(path)) {
    log_.writeLog("Will not handle file renaming for file: " + path, true);
    pendingOldName.clear();
    return;
  }
  log_.writeLog("Old name: " + path, true);
  pendingOldName = path;
}

// handleNewName consumes pendingOldName whatever the outcome.
void ChangeTracker::handleNewName(const std::string& path) {
  if (isWriteEcho(path) || pendingOldName.empty()) {
    log_.writeLog("Directory/file was renamed from Server or renaming is blocked by restriction.", true);
  } else if (isUnsyncedItem(path)) {
    // a link or a special file under a new name: reported, not queued
  } else {
    log_.writeLog("New name: " + path, true);
    if (filter_.isExcluded(path))
      log_.writeLog("Will not add to the rename queue due to an exception defined for file: " + path, true);
    else if (isBlocked(path))
      log_.writeLog("Blocked rename directory: " + path, true);
    else
      appendRename(path);
  }
  pendingOldName.clear();
}

// appendRename queues pendingOldName -> path; renames are reported before
// deletions, so a pending deletion of the new path would remove it on the server.
void ChangeTracker::appendRename(const std::string& path) {
  dropPendingDeletion(path);
  renameQueue.push_back({pendingOldName, path});
}

void ChangeTracker::appendModification(const std::string& path) {
  dropPendingDeletion(path);
  modificationQueue.push_back(path);
}

void ChangeTracker::dropPendingDeletion(const std::string& path) { deleteQueue.erase(path); }

// isUnsyncedItem: path names a link or a special file (reported once, never
// queued), or named one when it was last reported and is gone now.
bool ChangeTracker::isUnsyncedItem(const std::string& path) {
  FileStatus st = fs_.status(path);
  std::string reason = unsyncedReason(st.type);
  if (!reason.empty()) {
    unsynced.report(path, reason);
    return true;
  }
  if (st.exists()) {
    unsynced.forget(path);  // a file or folder stands there now
    return false;
  }
  return unsynced.reported(path);
}

// handleModification tests exclusion before blocking; folders are never queued.
void ChangeTracker::handleModification(const std::string& path) {
  if (isQueuedModification(path) || isWriteEcho(path)) return;
  if (fs_.isFolder(path) || isUnsyncedItem(path)) return;
  const bool excluded = filter_.isExcluded(path);
  const bool blocked = isBlocked(path);
  if (excluded) {
    log_.writeLog("Will not add to the queue due to an exception found for file: " + path, true);
  } else if (blocked) {
    log_.writeLog("Blocked directory modification: " + path, false);
  } else {
    log_.writeLog("Saving to queue (modification handling): " + path, true);
    appendModification(path);
  }
}

// handleDeletion tests blocking before exclusion; no existence test is made.
void ChangeTracker::handleDeletion(const std::string& path) {
  if (deleteQueue.contains(path) || isRemovalEcho(path) || isUnsyncedItem(path)) return;
  if (isBlocked(path)) {
    log_.writeLog("Blocked delete directory: " + path, false);
  } else if (filter_.isExcluded(path)) {
    log_.writeLog("Will not add to the delete queue due to an exception found for file: " + path, true);
  } else {
    log_.writeLog("Saving to delete queue: " + path, true);
    deleteQueue.push_back(path);
  }
}

void ChangeTracker::dropDeletionsOfPresentPaths() {
  deleteQueue.eraseIf([this](const std::string& path) {
    if (!fs_.exists(path)) return false;
    log_.writeLog("Deletion dropped, the item is there again: " + path, true);
    return true;
  });
}

void ChangeTracker::onServerRoundFinished(const std::string& key) {
  if (key == "\"time\"") {
    const std::string mods = std::to_string(modificationQueue.size());
    const std::string dels = std::to_string(deleteQueue.size());
    log_.writeLog("Modification queue: " + mods + ". Queue to delete: " + dels, true);
    status_.setPanel(2, "MOD: " + mods);
    status_.setPanel(3, "DEL: " + dels);
  }
  blockedPaths.clear();
  status_.setPanel(1, "Listening...");
  serverBusy = false;
}

void ChangeTracker::resetServerQueueIfIdle(std::size_t deleteQueueSizeAtStart) {
  if (serverBusy || deleteQueueSizeAtStart != 0) return;
  serverEchoes.ageRemovals();
  if (serverQueue.empty()) return;
  log_.writeLog("Resetting Server queue", true);
  serverQueue.clear();
}

}  // namespace kq
