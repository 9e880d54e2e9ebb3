#pragma once
// DataLock holds the lock file "kqsyncd.lock" of a data folder for as long as
// it lives, so that only one server uses the folder's indexes and logs. The
// file holds the pid of the server that holds it.
#include <stdexcept>
#include <string>

#include "platform/posix/owner_lock.h"

namespace kqs {

struct DataLockError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class DataLock {
 public:
  // Throws DataLockError naming the other server's pid when the folder is in use.
  explicit DataLock(const std::string& dataDir);
  ~DataLock();
  DataLock(const DataLock&) = delete;
  DataLock& operator=(const DataLock&) = delete;

 private:
  std::string path_;
  kq::OwnerLock lock_;
};

}  // namespace kqs
