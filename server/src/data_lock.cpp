#include "data_lock.h"

#include <unistd.h>

#include <filesystem>

namespace kqs {

DataLock::DataLock(const std::string& dataDir) : path_(dataDir + "/kqsyncd.lock") {
  std::filesystem::create_directories(dataDir);
  using kq::OwnerLock;
  switch (lock_.acquire(path_, std::to_string(::getpid()) + "\n")) {
    case OwnerLock::Outcome::Held:
      return;
    case OwnerLock::Outcome::Busy: {
      std::string pid = lock_.detail().substr(0, lock_.detail().find_first_not_of("0123456789"));
      throw DataLockError("the data folder " + dataDir + " is in use by another kqsyncd" +
                          (pid.empty() ? std::string() : " (pid " + pid + ")") + "; stop it first");
    }
    case OwnerLock::Outcome::Failed:
      break;
  }
  const char* step = lock_.failedStep() == OwnerLock::Step::Open   ? "cannot open "
                     : lock_.failedStep() == OwnerLock::Step::Lock ? "cannot lock "
                                                                   : "cannot write ";
  throw DataLockError(step + path_ + ": " + lock_.detail());
}

DataLock::~DataLock() {
  // A stopped server leaves no pid behind.
  [[maybe_unused]] int rc = ::truncate(path_.c_str(), 0);
}

}  // namespace kqs
