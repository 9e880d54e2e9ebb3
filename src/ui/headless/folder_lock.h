#pragma once
// FolderLock keeps a second kqfilesync off a sync folder: an exclusive lock
// (flock) on "_log/kqfilesync.lock" in the folder, held while the client runs
// with the folder there and released by the kernel when it ends, however it
// ends. The lock file holds the owner's process id and program, so a refused
// start can name it.
//
// The lock follows the folder: follow() takes it when the folder is there (at
// the start, and again when the folder comes back after it was away or was
// replaced by another), and lets it go while the folder is missing. A client
// syncs only while follow() says Held.
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/posix/owner_lock.h"

namespace kq {

class FolderLock {
 public:
  explicit FolderLock(std::string syncFolderNative) : folder_(std::move(syncFolderNative)) {}

  enum class State { Held, Missing, Refused };
  // follow takes or keeps the lock of the folder as it is now. Refused: the
  // folder is there but cannot be locked; problem() says why ("the sync folder
  // /x is used by another kqfilesync (process 42: /usr/bin/kqfilesync)").
  State follow();
  bool held() const { return lock_ != nullptr; }
  const std::string& problem() const { return problem_; }

  // acquire is follow() for the start: nullopt when the lock is held now or
  // the folder is missing, else the reason.
  std::optional<std::string> acquire();

  // isHeld tells whether a running process holds the lock of the folder.
  static bool isHeld(const std::string& syncFolderNative);

  static std::string lockFile(const std::string& syncFolderNative);

 private:
  State take();

  std::string folder_;
  std::unique_ptr<OwnerLock> lock_;
  dev_t device_ = 0;
  ino_t inode_ = 0;  // of the folder the lock was taken in
  std::string problem_;
};

// usedByAnother is the reason given when another kqfilesync holds a lock
// whose file holds lockText (its process id and program).
std::string usedByAnother(const std::string& syncFolderNative, const std::string& lockText);

}  // namespace kq
