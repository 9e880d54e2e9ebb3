#include "ui/headless/folder_lock.h"

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

std::string FolderLock::lockFile(const std::string& syncFolderNative) {
  return syncFolderNative + "/_log/kqfilesync.lock";
}

std::optional<std::string> FolderLock::acquire(const std::string& syncFolderNative) {
  std::error_code ec;
  // A missing sync folder is not created here: the client waits for it to
  // come back, and only then is there a folder to lock.
  if (!std::filesystem::is_directory(syncFolderNative, ec)) return std::nullopt;
  std::filesystem::create_directories(syncFolderNative + "/_log", ec);
  const std::string path = lockFile(syncFolderNative);
  switch (lock_.acquire(path, std::to_string(::getpid()) + "\n" + selfProgram() + "\n")) {
    case OwnerLock::Outcome::Held:
      return std::nullopt;
    case OwnerLock::Outcome::Busy:
      return "the sync folder " + syncFolderNative + " is used by another kqfilesync (" + ownerText(lock_.detail()) +
             ")";
    case OwnerLock::Outcome::Failed:
      break;
  }
  if (lock_.failedStep() == OwnerLock::Step::Write)
    return "cannot lock the sync folder " + syncFolderNative + ": cannot write " + path;
  return "cannot lock the sync folder " + syncFolderNative + ": " + path + ": " + lock_.detail();
}

bool FolderLock::isHeld(const std::string& syncFolderNative) { return OwnerLock::isHeld(lockFile(syncFolderNative)); }

}  // namespace kq
