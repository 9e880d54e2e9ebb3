#include "ui/headless/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kq {

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// owner is "process PID: PROGRAM" from the lock file's first two lines.
std::string owner(const std::string& lockFile) {
  std::istringstream lines(readAll(lockFile));
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

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

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
  int writer = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (writer < 0) return "cannot lock the sync folder " + syncFolderNative + ": " + path + ": " + std::strerror(errno);
  ::close(writer);
  // The lock is held through a read-only descriptor, so that the client keeps
  // no file of the sync folder open for writing (its disk can still be
  // remounted read-only or unmounted cleanly).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot lock the sync folder " + syncFolderNative + ": " + path + ": " + std::strerror(errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK)
      return "cannot lock the sync folder " + syncFolderNative + ": " + path + ": " + std::strerror(error);
    return "the sync folder " + syncFolderNative + " is used by another kqfilesync (" + owner(path) + ")";
  }
  std::string text = std::to_string(::getpid()) + "\n" + selfProgram() + "\n";
  writer = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool written = writer >= 0 && ::write(writer, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (writer >= 0 && ::close(writer) != 0) written = false;
  if (!written) {
    ::close(fd);
    return "cannot lock the sync folder " + syncFolderNative + ": cannot write " + path;
  }
  fd_ = fd;
  return std::nullopt;
}

bool FolderLock::isHeld(const std::string& syncFolderNative) {
  int fd = ::open(lockFile(syncFolderNative).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace kq
