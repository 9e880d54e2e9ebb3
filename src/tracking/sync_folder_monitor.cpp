#include "tracking/sync_folder_monitor.h"

#include "config/config_store.h"
#include "log/log.h"
#include "platform/file_system.h"
#include "platform/links.h"
#include "platform/views.h"
#include "tracking/change_tracker.h"

namespace kq {

std::string syncFolderNotFound(const std::string& folder) { return "Sync folder not found: " + folder; }

bool SyncFolderMonitor::check() {
  const std::string folder = config_.syncFolder();
  if (folder.empty()) return true;
  const bool there = fs_.isFolder(folder);
  if (!there && !missing_) lost(folder);
  if (there && missing_) returned(folder);
  return there;
}

void SyncFolderMonitor::lost(const std::string& folder) {
  missing_ = true;
  log_.writeLog(syncFolderNotFound(folder), true);
  status_.setPanel(1, syncFolderNotFound(folder));
  // Whatever the server asked now would read or fill a folder that is not there.
  if (server_.isActive()) server_.deactivate();
}

void SyncFolderMonitor::returned(const std::string& folder) {
  missing_ = false;
  log_.writeLog("Sync folder found again: " + folder, true);
  status_.setPanel(1, "Listening...");
  tracker_.dropDeletionsOfPresentPaths();
}

}  // namespace kq
