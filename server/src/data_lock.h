#pragma once
// DataLock holds the lock file "kqsyncd.lock" of a data folder for as long as
// it lives, so that only one server uses the folder's indexes and logs. The
// file holds the pid of the server that holds it. Once it holds the folder it
// tightens what earlier versions left readable by other users.
#include <stdexcept>
#include <string>

#include "platform/posix/owner_lock.h"

namespace kqs {

struct DataLockError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// tightenDataFolder takes group and other access away from what an earlier
// kqsyncd created open to them in dataDir: the folder itself, accounts.json,
// index/ and logs/ and versions/ with everything below them (stores are
// covered by the folder's own mode). Links are never followed or changed.
// Returns the line that says what changed, "" when nothing did.
std::string tightenDataFolder(const std::string& dataDir);

// tightenStoreFolder does the same for the store folder of contract when it
// lies outside dataDir (one inside is covered by the data folder's mode): the
// folder itself, as the system resolves its path, loses group and other
// access, which closes everything below it. Returns the line that says so, ""
// when nothing changed.
std::string tightenStoreFolder(const std::string& store, const std::string& contract,
                               const std::string& dataDir);

class DataLock {
 public:
  // Throws DataLockError naming the other server's pid when the folder is in use.
  explicit DataLock(const std::string& dataDir);
  ~DataLock();
  DataLock(const DataLock&) = delete;
  DataLock& operator=(const DataLock&) = delete;
  // tightenedNote is the line saying which modes the start tightened; "" when none.
  const std::string& tightenedNote() const { return tightened_; }

 private:
  std::string path_;
  std::string tightened_;
  kq::OwnerLock lock_;
};

}  // namespace kqs
