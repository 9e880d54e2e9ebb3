#include "pg_lock.h"

#include "pg_schema.h"

namespace kqs {

PgContractLock::PgContractLock(const std::string& url, const std::string& contract,
                               std::function<void()> beforeRelease)
    : db_(url), key_(std::to_string(std::stoll(contract))), beforeRelease_(std::move(beforeRelease)) {}

void PgContractLock::lock() {
  turns_.lock();
  try {
    db_.run("SELECT pg_advisory_lock($1, $2)", {std::to_string(kPgLockClass), key_});
  } catch (...) {
    turns_.unlock();
    throw;
  }
}

void PgContractLock::unlock() {
  if (beforeRelease_) {
    try {
      beforeRelease_();
    } catch (...) {
      // the holder logs what it could not commit
    }
  }
  try {
    db_.run("SELECT pg_advisory_unlock($1, $2)", {std::to_string(kPgLockClass), key_});
  } catch (const IndexError&) {
    // the connection is gone, and the advisory lock with it
  }
  turns_.unlock();
}

bool PgContractLock::try_lock() {
  if (!turns_.try_lock()) return false;
  try {
    if (db_.run("SELECT pg_try_advisory_lock($1, $2)", {std::to_string(kPgLockClass), key_}).flag(0, 0)) return true;
  } catch (...) {
    turns_.unlock();
    throw;
  }
  turns_.unlock();
  return false;
}

}  // namespace kqs
