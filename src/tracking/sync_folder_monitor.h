#pragma once
// SyncFolderMonitor watches whether the sync folder is there. A sync folder
// that was moved away, deleted or unmounted is not an empty folder: while it
// is missing the client says so in the log and the status bar ("Sync folder
// not found: " + the folder), keeps away from the server (the link is closed
// and not made again) and creates nothing; when it is back, deletions that
// wait in the queue for paths that are there again are dropped and the
// client carries on.
#include <string>

namespace kq {

class ChangeTracker;
class ConfigStore;
class FileSystem;
class Log;
class ServerLink;
class StatusView;

// syncFolderNotFound is the log and status text for a missing sync folder.
std::string syncFolderNotFound(const std::string& folder);

class SyncFolderMonitor {
 public:
  SyncFolderMonitor(FileSystem& fs, ConfigStore& config, ChangeTracker& tracker, ServerLink& server,
                    StatusView& status, Log& log)
      : fs_(fs), config_(config), tracker_(tracker), server_(server), status_(status), log_(log) {}

  // check looks for the sync folder now and acts on a change; true when it is
  // there (or no sync folder is configured yet).
  bool check();
  bool missing() const { return missing_; }

 private:
  void lost(const std::string& folder);
  void returned(const std::string& folder);

  FileSystem& fs_;
  ConfigStore& config_;
  ChangeTracker& tracker_;
  ServerLink& server_;
  StatusView& status_;
  Log& log_;
  bool missing_ = false;
};

}  // namespace kq
