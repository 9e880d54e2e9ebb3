#include "data_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kqs {

DataLock::DataLock(const std::string& dataDir) {
  std::filesystem::create_directories(dataDir);
  std::string path = dataDir + "/kqsyncd.lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw DataLockError("cannot open " + path + ": " + std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    char buffer[32] = {};
    auto n = ::pread(fd_, buffer, sizeof buffer - 1, 0);
    std::string pid(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    pid = pid.substr(0, pid.find_first_not_of("0123456789"));
    ::close(fd_);
    fd_ = -1;
    if (error != EWOULDBLOCK) throw DataLockError("cannot lock " + path + ": " + std::strerror(error));
    throw DataLockError("the data folder " + dataDir + " is in use by another kqsyncd" +
                        (pid.empty() ? std::string() : " (pid " + pid + ")") + "; stop it first");
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    throw DataLockError("cannot write " + path + ": " + std::strerror(errno));
  }
}

DataLock::~DataLock() {
  if (fd_ < 0) return;
  [[maybe_unused]] int rc = ::ftruncate(fd_, 0);
  ::close(fd_);
}

}  // namespace kqs
