#pragma once
// FolderLock keeps a second kqfilesync off a sync folder: an exclusive lock
// (flock) on "_log/kqfilesync.lock" in the folder, held while the client runs
// and released by the kernel when it ends, however it ends. The lock file holds
// the owner's process id and program, so a refused start can name it.
#include <optional>
#include <string>

#include "platform/posix/owner_lock.h"

namespace kq {

class FolderLock {
 public:
  // acquire returns nullopt when the lock is held now, else the reason
  // ("the sync folder /x is used by another kqfilesync (process 42: /usr/bin/kqfilesync)").
  std::optional<std::string> acquire(const std::string& syncFolderNative);

  // isHeld tells whether a running process holds the lock of the folder.
  static bool isHeld(const std::string& syncFolderNative);

  static std::string lockFile(const std::string& syncFolderNative);

 private:
  OwnerLock lock_;
};

}  // namespace kq
