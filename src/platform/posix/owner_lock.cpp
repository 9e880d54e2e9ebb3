#include "platform/posix/owner_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kq {

namespace {

std::string readText(int fd) {
  std::string text;
  char buffer[512];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
}

bool writeText(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

}  // namespace

OwnerLock::~OwnerLock() {
  if (fd_ >= 0) ::close(fd_);
}

OwnerLock::Outcome OwnerLock::fail(Step step, int error) {
  step_ = step;
  detail_ = std::strerror(error);
  return Outcome::Failed;
}

OwnerLock::Outcome OwnerLock::acquire(const std::string& path, const std::string& owner) {
  int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (created < 0) return fail(Step::Open, errno);
  ::close(created);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(Step::Open, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    if (error == EWOULDBLOCK) detail_ = readText(fd);
    ::close(fd);
    return error == EWOULDBLOCK ? Outcome::Busy : fail(Step::Lock, error);
  }
  if (!writeText(path, owner)) {
    int error = errno;
    ::close(fd);
    return fail(Step::Write, error);
  }
  fd_ = fd;
  detail_.clear();
  return Outcome::Held;
}

bool OwnerLock::isHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace kq
