#include "ui/headless/folder_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace kq {

namespace {

// ownerText is "process PID: PROGRAM" from the lock file's first two lines.
std::string ownerText(const std::string& lockText) {
  std::istringstream lines(lockText);
  std::string pid, program;
  std::getline(lines, pid);
  std::getline(lines, program);
  if (pid.empty()) return "process unknown";
  return "process " + pid + (program.empty() ? "" : ": " + program);
}

std::string selfProgram() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("kqfilesync") : exe.string();
}

}  // namespace

std::string usedByAnother(const std::string& syncFolderNative, const std::string& lockText) {
  return "the sync folder " + syncFolderNative + " is used by another kqfilesync (" + ownerText(lockText) + ")";
}

std::string FolderLock::lockFile(const std::string& syncFolderNative) {
  return syncFolderNative + "/_log/kqfilesync.lock";
}

FolderLock::State FolderLock::follow() {
  struct stat st {};
  // A missing sync folder is not created here: the client waits for it to
  // come back, and only then is there a folder to lock.
  if (::stat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    lock_.reset();
    return State::Missing;
  }
  if (lock_ && st.st_dev == device_ && st.st_ino == inode_) return State::Held;
  lock_.reset();  // a lock in a folder moved away guards nothing here
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return take();
}

FolderLock::State FolderLock::take() {
  std::error_code ec;
  std::filesystem::create_directories(folder_ + "/_log", ec);
  const std::string path = lockFile(folder_);
  auto lock = std::make_unique<OwnerLock>();
  switch (lock->acquire(path, std::to_string(::getpid()) + "\n" + selfProgram() + "\n")) {
    case OwnerLock::Outcome::Held:
      lock_ = std::move(lock);
      problem_.clear();
      return State::Held;
    case OwnerLock::Outcome::Busy:
      problem_ = usedByAnother(folder_, lock->detail());
      return State::Refused;
    case OwnerLock::Outcome::Failed:
      break;
  }
  if (lock->failedStep() == OwnerLock::Step::Write)
    problem_ = "cannot lock the sync folder " + folder_ + ": cannot write " + path;
  else
    problem_ = "cannot lock the sync folder " + folder_ + ": " + path + ": " + lock->detail();
  return State::Refused;
}

std::optional<std::string> FolderLock::acquire() {
  if (follow() == State::Refused) return problem_;
  return std::nullopt;
}

bool FolderLock::isHeld(const std::string& syncFolderNative) { return OwnerLock::isHeld(lockFile(syncFolderNative)); }

}  // namespace kq
